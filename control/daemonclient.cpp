// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "daemonclient.h"

#include "buscontract.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>

const char *const DaemonClient::SERVICE = BusContract::SERVICE;
const char *const DaemonClient::PATH = BusContract::PATH;
const char *const DaemonClient::STATUS_INTERFACE = BusContract::STATUS_INTERFACE;

namespace {
const char *const PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";
// Arming runs the hook scripts on the daemon's thread, each allowed 30 s.
const int CHANGE_TIMEOUT_MS = 120000;
} // namespace

DaemonClient::DaemonClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_methods(QLatin1String(SERVICE), QLatin1String(PATH), bus)
    , m_watcher(QLatin1String(SERVICE), bus,
                QDBusServiceWatcher::WatchForRegistration
                        | QDBusServiceWatcher::WatchForUnregistration)
{
    m_methods.setTimeout(CHANGE_TIMEOUT_MS);
}

bool DaemonClient::isOnBus() const
{
    return m_bus.isConnected() && m_bus.interface()
           && m_bus.interface()->isServiceRegistered(QLatin1String(SERVICE)).value();
}

namespace {
QDBusMessage getAll()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(DaemonClient::SERVICE), QLatin1String(DaemonClient::PATH),
            QLatin1String(PROPERTIES_INTERFACE), QStringLiteral("GetAll"));
    call << QLatin1String(DaemonClient::STATUS_INTERFACE);
    return call;
}
} // namespace

bool DaemonClient::readStatus(QVariantMap *properties, QString *error) const
{
    const QDBusReply<QVariantMap> reply = m_bus.call(getAll());
    if (!reply.isValid()) {
        *error = reply.error().message();
        return false;
    }
    *properties = reply.value();
    if (properties->isEmpty()) {
        *error = tr("the daemon publishes no status");
        return false;
    }
    return true;
}

void DaemonClient::requestStatus()
{
    ++m_pendingReads;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(getAll()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                --m_pendingReads;
                const QDBusPendingReply<QVariantMap> reply = *call;
                if (reply.isError())
                    Q_EMIT statusUnreadable(reply.error().message());
                else if (reply.value().isEmpty())
                    Q_EMIT statusUnreadable(tr("the daemon publishes no status"));
                else
                    Q_EMIT statusRead(reply.value());
            });
}

bool DaemonClient::follow()
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &DaemonClient::appeared);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &DaemonClient::vanished);
    return m_bus.connect(QLatin1String(SERVICE), QLatin1String(PATH),
                         QLatin1String(PROPERTIES_INTERFACE), QStringLiteral("PropertiesChanged"),
                         this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

void DaemonClient::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                       const QStringList &invalidated)
{
    if (interface != QLatin1String(STATUS_INTERFACE) || m_pendingReads > 0)
        return;
    if (invalidated.isEmpty())
        Q_EMIT propertiesChanged(changed);
    else
        // Values sent without their content are fetched.
        requestStatus();
}
