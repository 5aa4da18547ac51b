// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>

// Whether this machine holds a slot of its fleet's reboot lock, as the
// daemon publishes it.
struct RebootLockStatus
{
    bool held = false;
    // Since when, as the mark file says; invalid when not held.
    QDateTime since;
    // In words: why the slot is kept, or "" when none is held.
    QString text;
    // The lock's answers since the daemon started, whoever asked.
    qint64 granted = 0;
    qint64 released = 0;
    qint64 denied = 0;
    // Requests to the lock since the daemon started, and its failures by
    // kind (RebootLock's words).
    qint64 acquires = 0;
    qint64 releases = 0;
    QMap<QString, qint64> errors;

    bool operator==(const RebootLockStatus &other) const
    {
        return held == other.held && since == other.since && text == other.text
               && granted == other.granted && released == other.released && denied == other.denied
               && acquires == other.acquires && releases == other.releases
               && errors == other.errors;
    }
    bool operator!=(const RebootLockStatus &other) const { return !(*this == other); }
};
