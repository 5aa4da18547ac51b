// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "statusstandin.h"

#include "buscontract.h"
#include "statusadaptor.h"

#include <QDBusMessage>

namespace {
using BusContract::PATH;
using BusContract::SERVICE;
using BusContract::STATUS_INTERFACE;
} // namespace

StatusStandIn::StatusStandIn(QObject *parent)
    : QObject(parent)
    , m_bus(QString())
{
    new StatusAdaptor(this);
    reset();
}

void StatusStandIn::reset()
{
    set({{QStringLiteral("State"), 1},
         {QStringLiteral("StateName"), QStringLiteral("no-updates")},
         {QStringLiteral("Error"), -1},
         {QStringLiteral("TargetRelease"), QString()},
         {QStringLiteral("Deadline"), qint64(0)},
         {QStringLiteral("Forced"), false},
         {QStringLiteral("Armed"), false},
         {QStringLiteral("Packages"), QStringList()},
         {QStringLiteral("LastCheck"), qint64(0)},
         {QStringLiteral("LastResult"), QStringLiteral("none")},
         {QStringLiteral("Health"), QStringLiteral("none")},
         {QStringLiteral("HealthReasons"), QStringList()},
         {QStringLiteral("HealthChecked"), qint64(0)},
         {QStringLiteral("DownloadHeld"), QString()},
         {QStringLiteral("PostponedForPower"), QString()},
         {QStringLiteral("RestartPlanned"), qint64(0)},
         {QStringLiteral("RestartBlocker"), QString()},
         {QStringLiteral("RebootLockHeld"), false},
         {QStringLiteral("RebootLockSince"), qint64(0)},
         {QStringLiteral("RebootLockText"), QString()}});
}

bool StatusStandIn::publish(QDBusConnection bus)
{
    m_bus = bus;
    return m_bus.registerObject(QLatin1String(PATH), this,
                                QDBusConnection::ExportAdaptors | QDBusConnection::ExportAllSlots)
           && m_bus.registerService(QLatin1String(SERVICE));
}

void StatusStandIn::withdraw()
{
    m_bus.unregisterService(QLatin1String(SERVICE));
    m_bus.unregisterObject(QLatin1String(PATH));
}

void StatusStandIn::set(const QVariantMap &properties)
{
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
        setProperty(it.key().toLatin1().constData(), it.value());
}

void StatusStandIn::change(const QVariantMap &properties)
{
    set(properties);
    QDBusMessage signal = QDBusMessage::createSignal(
            QLatin1String(PATH), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
    signal << QLatin1String(STATUS_INTERFACE) << properties << QStringList();
    m_bus.send(signal);
}

int StatusStandIn::enableUpgradeOnReboot()
{
    calls << QStringLiteral("enableUpgradeOnReboot");
    if (onEnable)
        onEnable();
    return enableAnswer;
}

int StatusStandIn::disableUpgradeOnReboot()
{
    calls << QStringLiteral("disableUpgradeOnReboot");
    return disableAnswer;
}

int StatusStandIn::removeUpgradeResultStamp(int type)
{
    calls << QStringLiteral("removeUpgradeResultStamp %1").arg(type);
    return stampAnswers.value(type, 1);
}

int StatusStandIn::postponeRestart()
{
    calls << QStringLiteral("postponeRestart");
    return postponeAnswer;
}

int StatusStandIn::cancelRestart()
{
    calls << QStringLiteral("cancelRestart");
    return cancelAnswer;
}

int StatusStandIn::releaseRebootLock()
{
    calls << QStringLiteral("releaseRebootLock");
    return releaseLockAnswer;
}
