// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
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

    bool operator==(const RebootLockStatus &other) const
    {
        return held == other.held && since == other.since && text == other.text
               && granted == other.granted && released == other.released && denied == other.denied;
    }
    bool operator!=(const RebootLockStatus &other) const { return !(*this == other); }
};
