// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "health/healthstatus.h"
#include "logger.h"
#include "power/powerstatus.h"
#include "rebootlockstatus.h"
#include "restartstatus.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// What clients may read of the daemon, taken at one moment on the daemon's
// thread. A snapshot is never changed once taken, so the bus thread reads
// it without locks while the daemon goes on.
struct StatusSnapshot
{
    int task = 0;
    bool armed = false;
    bool forcedMode = false;
    int error = -1;
    // The pending version as found, "" when none.
    QString version;
    // The deadline T_end; invalid when unset.
    QDateTime deadline;
    // The package tool's listing of upgradable packages, as read.
    QStringList upgradable;
    // Invalid until a check has succeeded since the start.
    QDateTime lastCheck;
    // "none", "successful" or "unsuccessful": the result stamps of the last
    // upgrade at reboot. Filled in by whoever looks at the stamp files.
    QString lastResult = QStringLiteral("none");
    // When the state word last changed (the first publication counts as
    // one), and when the last successful offline upgrade began, as its
    // stamp says; invalid when unknown. Filled in by the publisher.
    QDateTime stateChanged;
    QDateTime lastSuccess;
    // The daemon's Log_level (a Logger::Level), which the bus thread's own
    // lines follow; not shown to clients.
    int logLevel = Logger::Info;
    // Pushed into the publisher by the parts that find them.
    HealthStatus health;
    PowerStatus power;
    // The automatic restart, as the restart policy last told it.
    RestartStatus restart;
    // The fleet lock's slot, as the slot keeper last told it.
    RebootLockStatus rebootLock;

    bool operator==(const StatusSnapshot &other) const;
    bool operator!=(const StatusSnapshot &other) const { return !(*this == other); }

    // The renderings clients see, as the daemon's own read operations give
    // them; `now` decides whether a set deadline has passed.
    int stateNumber(const QDateTime &now) const;
    QString stateWord(const QDateTime &now) const;
    QString updateDateText() const;
    QString versionText() const;
    QStringList packageNames() const;
    static qint64 unixTime(const QDateTime &time);
    // The properties of the status interface by name.
    QVariantMap properties(const QDateTime &now) const;

    // Word and number of a task other than DownloadCompleted.
    static QString taskWord(int task);
    static int taskNumber(int task);
};
