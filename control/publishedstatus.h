// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the daemon publishes on its Status interface, as one value. Clients
// read it whole once and then apply each PropertiesChanged to it.
struct PublishedStatus
{
    int state = -1;
    QString stateName = QStringLiteral("unknown");
    int error = -1;
    QString targetRelease;
    qint64 deadline = 0;
    bool forced = false;
    bool armed = false;
    QStringList packages;
    qint64 lastCheck = 0;
    QString lastResult = QStringLiteral("none");
    QString health = QStringLiteral("none");
    QStringList healthReasons;
    qint64 healthChecked = 0;
    QString downloadHeld;
    QString postponedForPower;
    qint64 restartPlanned = 0;
    QString restartBlocker;
    bool rebootLockHeld = false;
    qint64 rebootLockSince = 0;
    QString rebootLockText;

    // Takes the known properties of `properties` (bus names such as
    // "StateName"); answers the names of those whose value changed.
    QStringList apply(const QVariantMap &properties);

    bool deadlinePassed(qint64 now) const { return deadline != 0 && deadline <= now; }

    // The property under its bus name, as the bus carries it.
    QVariant value(const QString &property) const;

    // Keys for scripts: snake_case forms of the bus names, times as UNIX
    // seconds (0 when unset). They stay stable; new keys may be added.
    QJsonObject toJson() const;
    static QString jsonKey(const QString &property);
    static QJsonValue jsonValue(const QVariant &value);

    static const QStringList &propertyNames();
};
