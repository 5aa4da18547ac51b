// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "publishedstatus.h"

#include <QList>
#include <QString>

// Decides what the desktop is told about the daemon's status. Everything the
// user has not been told in this session is news once: an upgrade armed, a
// result of the last offline upgrade (also when it is already there at
// login). A daemon that restarts and finds its upgrade armed again tells
// nothing new.
class NoticePolicy
{
public:
    struct Notice
    {
        enum Kind {
            Armed,
            Disarmed,
            Result,
            ResultCleared,
            Power,
            PowerCleared,
            Health,
            Restart,
            RestartCalledOff
        };
        Kind kind;
        QString summary;
        QString body;
        // For Result: the type removeUpgradeResultStamp takes to clear it.
        int stampType = -1;
        bool urgent = false;
        // For Restart: whether a person may still postpone it.
        bool postponable = false;
    };

    // The notices for the status as it is now; `now` in UNIX seconds. While
    // a restart is announced, every call gives its notice again with the
    // time left, so that calling this each minute shows a countdown.
    QList<Notice> update(const PublishedStatus &status, qint64 now);

private:
    bool m_armedTold = false;
    QString m_armedRelease;
    QString m_resultTold = QStringLiteral("none");
    QString m_powerTold;
    QString m_healthTold = QStringLiteral("none");
    bool m_restartTold = false;
};
