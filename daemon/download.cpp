// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"
#include "constants.h"
#include "daemon.h"
#include "processinfo.h"
#include "settingscontroller.h"

#include <QProcess>
#include <QTimer>

#include <unistd.h>

int Daemon::downloadUpdatesByScript()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (m_progress.task() != toInt(CurrentTask::WaitingForDownload) && !m_progress.isForced()) {
        m_logger.debug(where, QStringLiteral("return 1"));
        return 1;
    }
    // A passed deadline and forced mode weigh more than the plan's cost.
    if (!m_downloadHold.isEmpty() && !m_progress.isForced() && !isTEndSetAndPassed()) {
        if (!m_downloadHeldBack)
            m_logger.info(QStringLiteral("Download held back: %1").arg(m_downloadHold));
        m_downloadHeldBack = true;
        return 1;
    }
    m_downloadHeldBack = false;
    m_logger.debug(where, QStringLiteral("try to download"));
    if (!checkConnection()) {
        m_logger.debug(where, QStringLiteral("checkConnection() return false"));
        setLogicalTask(CurrentTask::WaitingForDownload);
        m_logger.debug(where, QStringLiteral("return 1"));
        return 1;
    }
    m_logger.debug(where, QStringLiteral("checkConnection() return true"));
    if (m_clock->hasDownloadDelay()) {
        m_logger.debug(where, QStringLiteral("m_downloadUpdatesTimer != nullptr"));
        m_clock->stopDownloadDelay();
    }
    m_logger.debug(where, QStringLiteral("Downloading"));
    setTask(CurrentTask::Downloading);
    m_waitDownloadProcTimer->start();

    // A process of its own: the stage runner may still hold a run that
    // outlived its wait, and a running QProcess keeps its old arguments.
    QProcess download;
    download.setProgram(m_commonProcess->program());
    download.setArguments({STAGE_DOWNLOAD, QString::number(m_allReposPolicy)});
    if (download.startDetached(&m_pid)) {
        m_logger.debug(where, QStringLiteral("m_commonProcess->startDetached(&m_pid) return true"));
        // Known from now on by more than its process id, which another
        // process may get once this one has ended.
        const ProcessInfo info = ProcessInfo::of(m_pid);
        m_downloadStartTime = info.startTime;
        m_downloadSession = info.session;
        return 0;
    }
    m_logger.debug(where, QStringLiteral("m_commonProcess->startDetached(&m_pid) return false"));
    m_downloadFailed();
    return 1;
}

void Daemon::m_downloadFailed()
{
    // Polling an earlier run's process id would end in "downresult" judging
    // that earlier run: a download that never started is a failed one.
    m_pid = -1;
    m_downloadStartTime = 0;
    m_downloadSession = 0;
    m_waitDownloadProcTimer->stop();
    m_logger.warning(QStringLiteral("restart downloading  due apt-get error"));
    if (m_progress.isForced()) {
        // Not at once: a stage program that cannot start would loop here.
        QTimer::singleShot(m_waitDownloadProcTimer->interval(), this,
                           &Daemon::downloadUpdatesByScript);
        return;
    }
    setTask(CurrentTask::WaitingForDownload);
    startDownloadTimer();
}

void Daemon::checkDownloadIsFinished()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("m_task = %1").arg(m_progress.task()));
    if (m_progress.task() == toInt(CurrentTask::Stopped)
        || m_progress.task() == toInt(CurrentTask::StoppedForMajor)) {
        m_logger.debug(where, QStringLiteral("service is stopped"));
        return;
    }
    if (!m_waitDownloadProcTimer) {
        m_logger.debug(where, QStringLiteral("!m_waitDownloadProcTimer"));
        return;
    }
    if (m_pid <= 0) {
        m_logger.debug(where, QStringLiteral("m_pid <= 0"));
        m_waitDownloadProcTimer->stop();
        return;
    }
    if (m_isDownloadRunning())
        return;

    m_logger.debug(where, QStringLiteral("m_isDownloadRunning() return false"));
    m_waitDownloadProcTimer->stop();
    if (getDownloadResult() != 0) {
        m_logger.warning(QStringLiteral("restart downloading  due apt-get error"));
        m_downloadNowOrLater(where);
        return;
    }

    m_checkUpdatesTimer->start();
    Params params = m_settingsController->params();
    if (!params.upgrade_time_stamp.first || !params.upgrade_time_stamp.second.isValid()) {
        m_logger.debug(where, QStringLiteral("!params.upgrade_time_stamp.first"));
        params.upgrade_time_stamp
                = {true, QDateTime::currentDateTime().addDays(params.t_delay.second)};
        m_settingsController->setParams(params);
        m_settingsController->sync();
        startTEndTimer();
    } else if (!m_clock->isWatchRunning(CycleClock::Watch::Deadline)) {
        // A deadline kept from before a stop: its timer was halted with the
        // dropped update and runs again with the new one.
        startTEndTimer();
    }
    m_logger.info(QStringLiteral("END OF DOWNLOADING, timestamp: ")
                  + params.upgrade_time_stamp.second.toString(DATE_TIME_FORMAT));
    setTask(CurrentTask::DownloadCompleted);
    fillMinorUpdateVersion();
    m_progress.setArmed(isUpgradeAlreadySet());
    if (isTEndSetAndPassed())
        m_progress.setArmWhenComplete(true);
    if (m_progress.value().armWhenComplete || m_progress.isForced()) {
        m_logger.debug(where, QStringLiteral("(upgradeMustBeEnabled || m_forcedMode) = true"));
        enableUpgradeOnReboot();
    } else {
        m_logger.debug(where, QStringLiteral("(upgradeMustBeEnabled || m_forcedMode) = false"));
        manageStatusFile();
    }
}

bool Daemon::m_isDownloadRunning() const
{
    // The same process: its id, its start time and its owner (the daemon's
    // own user) all match. A process that got the id later, whatever it is
    // called, is not the download.
    const ProcessInfo info = ProcessInfo::of(m_pid);
    return info.isAlive() && info.startTime == m_downloadStartTime && m_downloadStartTime != 0
           && info.owner == uint(::geteuid());
}

void Daemon::m_downloadNowOrLater(const QString &where)
{
    if (m_progress.isForced()) {
        m_logger.debug(where, QStringLiteral("m_forcedMode = true"));
        downloadUpdatesByScript();
    } else {
        m_logger.debug(where, QStringLiteral("m_forcedMode = false"));
        setTask(CurrentTask::WaitingForDownload);
        startDownloadTimer();
    }
}

void Daemon::setDownloadHold(const QString &reason)
{
    if (reason == m_downloadHold)
        return;
    m_downloadHold = reason;
    if (!reason.isEmpty() || !m_downloadHeldBack)
        return;
    m_logger.info(QStringLiteral("Download no longer held back"));
    m_downloadHeldBack = false;
    downloadUpdatesByScript();
}
