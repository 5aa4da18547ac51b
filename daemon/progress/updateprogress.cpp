// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updateprogress.h"

#include "logger.h"

bool Progress::operator==(const Progress &other) const
{
    return task == other.task && returnTask == other.returnTask && logicalTask == other.logicalTask
           && armed == other.armed && armWhenComplete == other.armWhenComplete
           && firstBlockPassed == other.firstBlockPassed && forced == other.forced
           && error == other.error && resetRecheckRunning == other.resetRecheckRunning;
}

UpdateProgress::UpdateProgress(const Logger &logger)
    : m_logger(logger)
{ }

bool UpdateProgress::set(Progress next, const QString &where)
{
    const int from = m_value.task;
    if (next.task != from) {
        const bool inTable = next.task >= toInt(CurrentTask::Unknown)
                             && next.task <= toInt(CurrentTask::StoppedForMajor)
                             && isAllowedTaskMove(from, CurrentTask(next.task));
        if (!inTable) {
            // A fault of the daemon's own logic: taking the move would leave
            // clients a state the cycle cannot get out of.
            m_logger.warning(QStringLiteral("%1: refused move of the task %2 -> %3: it is not in "
                                            "the table of moves")
                                     .arg(where)
                                     .arg(from)
                                     .arg(next.task));
            return false;
        }
        if (next.task == toInt(CurrentTask::WaitingForConnection))
            next.returnTask = from;
    }
    m_value = next;
    if (next.task != from)
        m_logger.debug(where, QStringLiteral("task %1 -> %2").arg(from).arg(next.task));
    return true;
}

bool UpdateProgress::moveTo(CurrentTask task, const QString &where)
{
    Progress next = m_value;
    next.task = toInt(task);
    return set(next, where);
}

// The other fields never refuse: only the task has a table of moves.
void UpdateProgress::setLogicalTask(CurrentTask task)
{
    Progress next = m_value;
    next.logicalTask = toInt(task);
    set(next, QString());
}

void UpdateProgress::setArmed(bool armed)
{
    Progress next = m_value;
    next.armed = armed;
    set(next, QString());
}

void UpdateProgress::setArmWhenComplete(bool arm)
{
    Progress next = m_value;
    next.armWhenComplete = arm;
    set(next, QString());
}

void UpdateProgress::setFirstBlockPassed(bool passed)
{
    Progress next = m_value;
    next.firstBlockPassed = passed;
    set(next, QString());
}

void UpdateProgress::setForced(bool forced)
{
    Progress next = m_value;
    next.forced = forced;
    set(next, QString());
}

void UpdateProgress::setError(ErrorNumber error)
{
    Progress next = m_value;
    next.error = toInt(error);
    set(next, QString());
}

void UpdateProgress::setResetRecheckRunning(bool running)
{
    Progress next = m_value;
    next.resetRecheckRunning = running;
    set(next, QString());
}
