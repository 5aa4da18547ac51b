// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "systemdservice.h"

#include "logger.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QStringList>
#include <QtDebug>

namespace ZunAdmin {

namespace {
const char *const SERVICE = "org.freedesktop.systemd1";
const char *const PATH = "/org/freedesktop/systemd1";
const char *const INTERFACE = "org.freedesktop.systemd1.Manager";

QString withTypeSuffix(const QString &name)
{
    // As systemctl does: only a known type suffix names the type, so
    // "foo@a.b" is still an instance of the service template "foo@".
    static const QStringList types
            = {QStringLiteral("service"), QStringLiteral("socket"), QStringLiteral("target"),
               QStringLiteral("device"),  QStringLiteral("mount"),  QStringLiteral("automount"),
               QStringLiteral("swap"),    QStringLiteral("timer"),  QStringLiteral("path"),
               QStringLiteral("slice"),   QStringLiteral("scope")};
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && types.contains(name.mid(dot + 1)))
        return name;
    return name + QLatin1String(".service");
}
} // namespace

SystemdService::SystemdService(const QString &unitName, const Logger *logger)
    : m_unitName(withTypeSuffix(unitName))
    , m_logger(logger)
{ }

QString SystemdService::unitName() const
{
    return m_unitName;
}

void SystemdService::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
}

bool SystemdService::enable()
{
    const bool runtime = false;
    const bool force = true;
    return callManager(QStringLiteral("EnableUnitFiles"),
                       {QStringList {m_unitName}, runtime, force})
           && callManager(QStringLiteral("Reload"), {});
}

bool SystemdService::start()
{
    return callManager(QStringLiteral("StartUnit"), {m_unitName, QStringLiteral("replace")});
}

bool SystemdService::disable()
{
    const bool runtime = false;
    return callManager(QStringLiteral("DisableUnitFiles"), {QStringList {m_unitName}, runtime})
           && callManager(QStringLiteral("Reload"), {});
}

bool SystemdService::callManager(const QString &method, const QVariantList &arguments) const
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        warn(QStringLiteral("systemd %1 for unit %2 failed: system bus not connected: %3")
                     .arg(method, m_unitName, bus.lastError().message()));
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(SERVICE), QLatin1String(PATH),
                                                       QLatin1String(INTERFACE), method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        warn(QStringLiteral("systemd %1 for unit %2 failed: %3: %4")
                     .arg(method, m_unitName, reply.errorName(), reply.errorMessage()));
        return false;
    }
    return true;
}

void SystemdService::warn(const QString &message) const
{
    if (m_logger)
        m_logger->warning(message);
    else
        qWarning().noquote() << message;
}

} // namespace ZunAdmin
