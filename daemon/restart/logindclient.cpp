// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logindclient.h"

#include "constants.h"
#include "powersupplies.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {
const QString LOGIN1 = QStringLiteral("org.freedesktop.login1");
const QString LOGIN1_PATH = QStringLiteral("/org/freedesktop/login1");
const QString MANAGER = QStringLiteral("org.freedesktop.login1.Manager");
const QString SESSION = QStringLiteral("org.freedesktop.login1.Session");
const QString UPOWER = QStringLiteral("org.freedesktop.UPower");
const QString UPOWER_PATH = QStringLiteral("/org/freedesktop/UPower");
const QString DEVICE = QStringLiteral("org.freedesktop.UPower.Device");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage call(const QDBusConnection &bus, const QString &service, const QString &path,
                  const QString &interface, const QString &method,
                  const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, LogindClient::CALL_TIMEOUT_MS);
}

QVariant property(const QDBusConnection &bus, const QString &service, const QString &path,
                  const QString &interface, const QString &name, bool *ok = nullptr)
{
    const QDBusMessage reply
            = call(bus, service, path, PROPERTIES, QStringLiteral("Get"), {interface, name});
    const bool answered
            = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    if (ok)
        *ok = answered;
    return answered ? reply.arguments().first().value<QDBusVariant>().variant() : QVariant();
}

bool succeeded(const QDBusMessage &reply, QString *error)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return false;
}
} // namespace

LogindClient::LogindClient(const QDBusConnection &bus)
    : m_bus(bus)
{ }

QList<LogindClient::Inhibitor> LogindClient::shutdownBlockers() const
{
    QList<Inhibitor> blockers;
    const QDBusMessage reply
            = call(m_bus, LOGIN1, LOGIN1_PATH, MANAGER, QStringLiteral("ListInhibitors"));
    if (reply.type() != QDBusMessage::ReplyMessage
        || reply.signature() != QLatin1String("a(ssssuu)"))
        return blockers;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    const uint ownPid = uint(QCoreApplication::applicationPid());
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        if (mode == QLatin1String("block") && pid != ownPid
            && what.split(QLatin1Char(':')).contains(QLatin1String("shutdown")))
            blockers.append({who, why});
    }
    list.endArray();
    return blockers;
}

QStringList LogindClient::interactiveSessions() const
{
    QStringList sessions;
    const QDBusMessage reply
            = call(m_bus, LOGIN1, LOGIN1_PATH, MANAGER, QStringLiteral("ListSessions"));
    if (reply.type() != QDBusMessage::ReplyMessage
        || reply.signature() != QLatin1String("a(susso)"))
        return sessions;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString id, user, seat;
        uint uid = 0;
        QDBusObjectPath path;
        list.beginStructure();
        list >> id >> uid >> user >> seat >> path;
        list.endStructure();
        const QString sessionPath = path.path();
        if (property(m_bus, LOGIN1, sessionPath, SESSION, QStringLiteral("Class")).toString()
            != QLatin1String("user"))
            continue;
        const QString tty
                = property(m_bus, LOGIN1, sessionPath, SESSION, QStringLiteral("TTY")).toString();
        const bool remote
                = property(m_bus, LOGIN1, sessionPath, SESSION, QStringLiteral("Remote")).toBool();
        if (seat.isEmpty() && tty.isEmpty() && !remote)
            continue;
        const QString place = !seat.isEmpty()  ? seat
                              : !tty.isEmpty() ? tty
                                               : QStringLiteral("remote");
        sessions.append(QStringLiteral("%1 (%2)").arg(user, place));
    }
    list.endArray();
    return sessions;
}

LogindClient::Power LogindClient::power() const
{
    Power power;
    bool ok = false;
    power.onBattery = property(m_bus, UPOWER, UPOWER_PATH, UPOWER, QStringLiteral("OnBattery"), &ok)
                              .toBool();
    if (!ok) {
        // Servers and small installations often have no power daemon, yet
        // a battery; the install boot would refuse the restart's upgrade.
        const PowerSupplies::Reading reading = PowerSupplies(POWER_SUPPLY_CLASS_DIR).read();
        power.onBattery = reading.onBattery;
        power.percent = reading.percent;
        return power;
    }
    if (!power.onBattery)
        return Power();
    const QDBusMessage display
            = call(m_bus, UPOWER, UPOWER_PATH, UPOWER, QStringLiteral("GetDisplayDevice"));
    const QString device = display.type() == QDBusMessage::ReplyMessage
                                   ? display.arguments().value(0).value<QDBusObjectPath>().path()
                                   : QString();
    const QVariant percent = device.isEmpty() ? QVariant()
                                              : property(m_bus, UPOWER, device, DEVICE,
                                                         QStringLiteral("Percentage"), &ok);
    // On battery with the charge unknown: count it as empty, the safe side.
    power.percent = ok && percent.isValid() ? qRound(percent.toDouble()) : 0;
    return power;
}

bool LogindClient::scheduleReboot(const QDateTime &when, QString *error) const
{
    const quint64 usec = quint64(when.toMSecsSinceEpoch()) * 1000;
    return succeeded(call(m_bus, LOGIN1, LOGIN1_PATH, MANAGER, QStringLiteral("ScheduleShutdown"),
                          {QStringLiteral("reboot"), QVariant::fromValue(usec)}),
                     error);
}

bool LogindClient::cancelScheduledReboot(QString *error) const
{
    return succeeded(
            call(m_bus, LOGIN1, LOGIN1_PATH, MANAGER, QStringLiteral("CancelScheduledShutdown")),
            error);
}

bool LogindClient::reboot(QString *error) const
{
    return succeeded(call(m_bus, LOGIN1, LOGIN1_PATH, MANAGER, QStringLiteral("Reboot"), {false}),
                     error);
}
