// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "dbusservice.h"

#include "logger.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QtDebug>

namespace ZunAdmin {

const char *const DbusService::SERVICE = "os.kirtalinux.zun.kirtaupgrade";
const char *const DbusService::PATH = "/os/kirtalinux/zun/kirtaupgrade";
const char *const DbusService::INTERFACE = "os.kirtalinux.zun.kirtaupgrade";
const char *const DbusService::METHOD = "changeUpgradeState";

DbusService::DbusService(QObject *parent)
    : QObject(parent)
{ }

void DbusService::setLogger(const Logger *logger)
{
    m_logger = logger;
}

bool DbusService::changeUpgradeState(bool enabled)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        warn(QStringLiteral("Cannot call %1.%2: system bus not connected: %3")
                     .arg(QLatin1String(INTERFACE), QLatin1String(METHOD),
                          bus.lastError().message()));
        return false;
    }
    QDBusMessage call
            = QDBusMessage::createMethodCall(QLatin1String(SERVICE), QLatin1String(PATH),
                                             QLatin1String(INTERFACE), QLatin1String(METHOD));
    call << enabled;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                const bool ok = !finished->isError();
                if (!ok)
                    warn(QStringLiteral("%1.%2 failed: %3: %4")
                                 .arg(QLatin1String(INTERFACE), QLatin1String(METHOD),
                                      finished->error().name(), finished->error().message()));
                finished->deleteLater();
                Q_EMIT replyReceived(ok);
            });
    return true;
}

void DbusService::warn(const QString &message) const
{
    if (m_logger)
        m_logger->warning(message);
    else
        qWarning().noquote() << message;
}

} // namespace ZunAdmin
