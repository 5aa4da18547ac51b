// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QString>

// What the restart policy tells clients: when the machine restarts into the
// armed upgrade, and what keeps it from doing so now.
struct RestartStatus
{
    // The planned restart (or the earliest one, the next window's opening);
    // invalid when none is planned.
    QDateTime planned;
    // In words, "" when nothing is planned or nothing blocks.
    QString blocker;
    // The blocker as one word for monitoring: none, deadline, window,
    // inhibitor, battery, users, lock, restarting, cancelled, error.
    QString reason = QStringLiteral("none");
    // Restarts asked of the login manager since the daemon started, and
    // those it took on (an announced restart that stands counts once).
    qint64 attempts = 0;
    qint64 successes = 0;

    bool operator==(const RestartStatus &other) const
    {
        return planned == other.planned && blocker == other.blocker && reason == other.reason
               && attempts == other.attempts && successes == other.successes;
    }
    bool operator!=(const RestartStatus &other) const { return !(*this == other); }
};
