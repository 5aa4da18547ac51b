// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "restartrequests.h"

#include "polkitauthority.h"
#include "rebootslotkeeper.h"
#include "restartpolicy.h"
#include "updatedbushandler.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

RestartRequests::RestartRequests(PolkitAuthority *authority, Run run, Refuse refuse,
                                 QObject *parent)
    : QObject(parent)
    , m_authority(authority)
    , m_run(std::move(run))
    , m_refuse(std::move(refuse))
{ }

void RestartRequests::withCaller(const QDBusMessage &call, const QDBusConnection &bus,
                                 std::function<void(bool known, uint uid)> then)
{
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("GetConnectionUnixUser"))
                             << call.service();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [then](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> uid = *finished;
                then(!uid.isError(), uid.isError() ? 0 : uid.value());
            });
}

bool RestartRequests::postpone(const QDBusMessage &call, const QDBusConnection &bus)
{
    RestartPolicy *policy = m_policy;
    if (!policy)
        return false;
    withCaller(call, bus, [this, call, bus, policy](bool known, uint uid) {
        const QString who = QStringLiteral("uid %1 (%2)").arg(uid).arg(call.service());
        if (known && uid == 0) {
            m_run(call, bus, [policy, who] { return policy->postpone(true, who); });
            return;
        }
        // Anybody else as polkit decides, and only before the deadline.
        m_authority->check(
                bus, call.service(), QLatin1String(UpdateDBusHandler::POSTPONE_RESTART_ACTION),
                [this, call, bus, policy, who](bool allowed) {
                    if (!allowed) {
                        m_refuse(call, bus);
                        return;
                    }
                    m_run(call, bus, [policy, who] { return policy->postpone(false, who); });
                });
    });
    return true;
}

bool RestartRequests::cancel(const QDBusMessage &call, const QDBusConnection &bus)
{
    RestartPolicy *policy = m_policy;
    if (!policy)
        return false;
    rootOnly(call, bus, [policy](const QString &who) { return policy->cancel(who); });
    return true;
}

bool RestartRequests::releaseLock(const QDBusMessage &call, const QDBusConnection &bus)
{
    RebootSlotKeeper *keeper = m_keeper;
    if (!keeper)
        return false;
    // Like cancelling: the slot keeps the rest of the fleet safe.
    rootOnly(call, bus, [keeper](const QString &who) { return keeper->releaseByHand(who); });
    return true;
}

void RestartRequests::rootOnly(const QDBusMessage &call, const QDBusConnection &bus,
                               std::function<int(const QString &who)> step)
{
    withCaller(call, bus, [this, call, bus, step](bool known, uint uid) {
        if (!known || uid != 0) {
            m_refuse(call, bus);
            return;
        }
        const QString who = QStringLiteral("uid 0 (%1)").arg(call.service());
        m_run(call, bus, [step, who] { return step(who); });
    });
}
