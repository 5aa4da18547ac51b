// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"

#include "settingscontroller.h"

// The facade's entries to m_afterReboot, under the places the log has
// always named for them.

void Daemon::actualizeSnapshotStamp(bool state)
{
    const QString failure = m_afterReboot->markSnapshot(state, KIRTA_WHERE);
    // Without it the offline upgrade takes no snapshot to roll back to.
    if (!failure.isEmpty())
        m_logger.warning(QStringLiteral("The snapshot stamp could not be brought in line (%1)")
                                 .arg(failure));
}

void Daemon::manageStatusFile()
{
    m_arming->writeStatus(m_progress.task() == toInt(CurrentTask::DownloadCompleted),
                          m_progress.isArmed(), m_check->release(), KIRTA_WHERE);
}

void Daemon::areWeAfterMinorUpgrade()
{
    m_afterReboot->settle(m_settingsController->params().health_rollback.second, KIRTA_WHERE);
}

void Daemon::releaseSnapshotKeptForHealth()
{
    m_afterReboot->releaseKeptSnapshot();
}

int Daemon::removeUpgradeResultStamp(int type) const
{
    const AfterReboot::Outcome<StampRemoval> outcome
            = m_afterReboot->removeResultStamp(type, KIRTA_WHERE);
    if (outcome.code == StampRemoval::Absent)
        m_logRepeat(
                m_repeatedClears, Logger::Debug,
                QStringLiteral("Result stamp %1 to clear is not there, nothing to do").arg(type));
    else if (outcome.code == StampRemoval::Failed)
        m_logger.warning(QStringLiteral("Result stamp %1 could not be cleared (%2)")
                                 .arg(type)
                                 .arg(outcome.failure));
    return toInt(outcome.code);
}
