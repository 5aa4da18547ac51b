// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "publishedstatus.h"

#include <QJsonArray>

namespace {
const char *const JSON_KEYS[][2] = {
        {"State", "state"},
        {"StateName", "state_name"},
        {"Error", "error"},
        {"TargetRelease", "target_release"},
        {"Deadline", "deadline"},
        {"Forced", "forced"},
        {"Armed", "armed"},
        {"Packages", "packages"},
        {"LastCheck", "last_check"},
        {"LastResult", "last_result"},
        {"Health", "health"},
        {"HealthReasons", "health_reasons"},
        {"HealthChecked", "health_checked"},
        {"DownloadHeld", "download_held"},
        {"PostponedForPower", "postponed_for_power"},
        {"RestartPlanned", "restart_planned"},
        {"RestartBlocker", "restart_blocker"},
        {"RebootLockHeld", "reboot_lock_held"},
        {"RebootLockSince", "reboot_lock_since"},
        {"RebootLockText", "reboot_lock_text"},
};

template<typename T> bool take(const QVariantMap &properties, const char *name, T *member)
{
    const auto found = properties.constFind(QLatin1String(name));
    if (found == properties.constEnd() || !found->canConvert<T>())
        return false;
    const T value = found->value<T>();
    if (value == *member)
        return false;
    *member = value;
    return true;
}
} // namespace

const QStringList &PublishedStatus::propertyNames()
{
    static const QStringList names = [] {
        QStringList all;
        for (const auto &pair : JSON_KEYS)
            all << QLatin1String(pair[0]);
        return all;
    }();
    return names;
}

QStringList PublishedStatus::apply(const QVariantMap &properties)
{
    QStringList changed;
    auto note = [&](bool didChange, const char *name) {
        if (didChange)
            changed << QLatin1String(name);
    };
    note(take(properties, "State", &state), "State");
    note(take(properties, "StateName", &stateName), "StateName");
    note(take(properties, "Error", &error), "Error");
    note(take(properties, "TargetRelease", &targetRelease), "TargetRelease");
    note(take(properties, "Deadline", &deadline), "Deadline");
    note(take(properties, "Forced", &forced), "Forced");
    note(take(properties, "Armed", &armed), "Armed");
    note(take(properties, "Packages", &packages), "Packages");
    note(take(properties, "LastCheck", &lastCheck), "LastCheck");
    note(take(properties, "LastResult", &lastResult), "LastResult");
    note(take(properties, "Health", &health), "Health");
    note(take(properties, "HealthReasons", &healthReasons), "HealthReasons");
    note(take(properties, "HealthChecked", &healthChecked), "HealthChecked");
    note(take(properties, "DownloadHeld", &downloadHeld), "DownloadHeld");
    note(take(properties, "PostponedForPower", &postponedForPower), "PostponedForPower");
    note(take(properties, "RestartPlanned", &restartPlanned), "RestartPlanned");
    note(take(properties, "RestartBlocker", &restartBlocker), "RestartBlocker");
    note(take(properties, "RebootLockHeld", &rebootLockHeld), "RebootLockHeld");
    note(take(properties, "RebootLockSince", &rebootLockSince), "RebootLockSince");
    note(take(properties, "RebootLockText", &rebootLockText), "RebootLockText");
    return changed;
}

QVariant PublishedStatus::value(const QString &property) const
{
    const QVariantMap all {
            {QStringLiteral("State"), state},
            {QStringLiteral("StateName"), stateName},
            {QStringLiteral("Error"), error},
            {QStringLiteral("TargetRelease"), targetRelease},
            {QStringLiteral("Deadline"), deadline},
            {QStringLiteral("Forced"), forced},
            {QStringLiteral("Armed"), armed},
            {QStringLiteral("Packages"), packages},
            {QStringLiteral("LastCheck"), lastCheck},
            {QStringLiteral("LastResult"), lastResult},
            {QStringLiteral("Health"), health},
            {QStringLiteral("HealthReasons"), healthReasons},
            {QStringLiteral("HealthChecked"), healthChecked},
            {QStringLiteral("DownloadHeld"), downloadHeld},
            {QStringLiteral("PostponedForPower"), postponedForPower},
            {QStringLiteral("RestartPlanned"), restartPlanned},
            {QStringLiteral("RestartBlocker"), restartBlocker},
            {QStringLiteral("RebootLockHeld"), rebootLockHeld},
            {QStringLiteral("RebootLockSince"), rebootLockSince},
            {QStringLiteral("RebootLockText"), rebootLockText},
    };
    return all.value(property);
}

QString PublishedStatus::jsonKey(const QString &property)
{
    for (const auto &pair : JSON_KEYS) {
        if (property == QLatin1String(pair[0]))
            return QLatin1String(pair[1]);
    }
    return property;
}

QJsonValue PublishedStatus::jsonValue(const QVariant &value)
{
    if (value.type() == QVariant::StringList)
        return QJsonArray::fromStringList(value.toStringList());
    if (value.type() == QVariant::LongLong)
        return QJsonValue(value.toLongLong());
    return QJsonValue::fromVariant(value);
}

QJsonObject PublishedStatus::toJson() const
{
    QJsonObject object;
    for (const QString &property : propertyNames())
        object.insert(jsonKey(property), jsonValue(value(property)));
    return object;
}
