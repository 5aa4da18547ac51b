// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "daemon.h"
#include "majorrelease.h"

int Daemon::getMajorReportMode() const
{
    // A report without a mode is logged by the part; it keeps the daemon
    // away all the same.
    return toInt(m_major->readReport(KIRTA_WHERE).code);
}

void Daemon::checkisMajorUpdateInstalled()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    // The first report read comes from the part's watch, 10 s on.
    if (m_major->followInstallation(where))
        return;
    if (m_progress.task() == toInt(CurrentTask::StoppedForMajor) && m_progress.error() < 0) {
        m_logger.debug(where, QStringLiteral("(m_task == CurrentTask::StoppedForMajor && "
                                             "m_currentError < 0) = true"));
        tryToRestartMinorUpdate();
    }
}

void Daemon::checkMajorReport()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!m_major->hasReport()) {
        m_logger.debug(where, QStringLiteral("RESTARTED"));
        tryToRestartMinorUpdate();
        return;
    }
    if (getMajorReportMode() == toInt(MajorReportMode::NothingPending)) {
        m_logger.debug(where, QStringLiteral("RESTARTED 2"));
        tryToRestartMinorUpdate();
        return;
    }
    // Stopped already (also with an error set): stopping again every 10 s
    // would clean the cache each time under the upgrade tool's feet.
    if (m_progress.task() == toInt(CurrentTask::StoppedForMajor)
        || m_progress.task() == toInt(CurrentTask::Stopped))
        return;
    // The package lock most likely belongs to the upgrade tool itself: it is
    // never broken for it.
    m_setNoUpdates(false, true, false, false);
    m_logger.info(QStringLiteral("STOPPED FOR MAJOR"));
}

void Daemon::tryToRestartMinorUpdate()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (m_progress.task() == toInt(CurrentTask::StoppedForMajor) && m_progress.error() < 0) {
        m_logger.debug(where, QStringLiteral("(m_task == CurrentTask::StoppedForMajor && "
                                             "m_currentError < 0) = true"));
        setNoUpdates(false, false, false);
    }
}

int Daemon::setReady()
{
    const int result = disableUpgradeOnReboot(false);
    m_logger.debug(KIRTA_WHERE, QStringLiteral("disableUpgradeOnReboot"), result);
    return result;
}

int Daemon::setStateFromOutside(int stateAsInt)
{
    m_logger.debug(KIRTA_WHERE, QStringLiteral("stateAsInt"), stateAsInt);
    switch (stateAsInt) {
    case toInt(OutsideState::Resume):
        setNoUpdates(false, false, false);
        return toInt(OutsideAnswer::Done);
    case toInt(OutsideState::Ready):
        return setReady();
    case toInt(OutsideState::Arm):
        return setUpdateSet();
    case toInt(OutsideState::Stop):
        setNoUpdates(false, true, false);
        return toInt(OutsideAnswer::Done);
    case toInt(OutsideState::Forced):
        return setForcedMode();
    case toInt(OutsideState::StopEvenForced):
        setNoUpdates(false, true, true);
        return toInt(OutsideAnswer::Done);
    default:
        return toInt(OutsideAnswer::UnknownState);
    }
}
