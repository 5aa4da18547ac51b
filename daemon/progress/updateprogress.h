// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "progress.h"

#include <QString>

class Logger;

// The one owner of the update's progress. Every change goes through set(),
// which checks the task's move against the table beside CurrentTask in every
// build: a move outside it is logged once, as a warning, and refused whole
// (nothing of the new value is taken), and the daemon goes on from where it
// was. A legal move of the task is logged at debug level, under the place the
// caller names.
class UpdateProgress
{
public:
    // `logger` must outlive this object; its level is read at each line.
    explicit UpdateProgress(const Logger &logger);

    const Progress &value() const { return m_value; }
    int task() const { return m_value.task; }
    bool isArmed() const { return m_value.armed; }
    bool isForced() const { return m_value.forced; }
    int error() const { return m_value.error; }

    // Takes `next` when its task may follow the current one; entering a
    // connection wait records the task it interrupts as the one to return
    // to. False (and the value unchanged) for an illegal move.
    bool set(Progress next, const QString &where);

    // Shorthands for set() of one field.
    bool moveTo(CurrentTask task, const QString &where);
    void setLogicalTask(CurrentTask task);
    void setArmed(bool armed);
    void setArmWhenComplete(bool arm);
    void setFirstBlockPassed(bool passed);
    void setForced(bool forced);
    void setError(ErrorNumber error);
    void setResetRecheckRunning(bool running);

private:
    // Places a test scenario's start without the moves that lead there.
    friend class DaemonTestPeer;

    const Logger &m_logger;
    Progress m_value;
};
