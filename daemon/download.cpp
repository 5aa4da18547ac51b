// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QTimer>

int Daemon::downloadUpdatesByScript()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (m_progress.task() != toInt(CurrentTask::WaitingForDownload) && !m_progress.isForced()) {
        m_logger.debug(where, QStringLiteral("return 1"));
        return 1;
    }
    if (m_download->holdsBack([this] { return m_progress.isForced() || isTEndSetAndPassed(); }))
        return 1;
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
    const QString failure
            = m_download->start({STAGE_DOWNLOAD, QString::number(m_allReposPolicy)}, where);
    if (failure.isEmpty())
        return 0;
    m_downloadFailed(failure);
    return 1;
}

void Daemon::m_downloadFailed(const QString &failure)
{
    // A download that never started is a failed one.
    m_logger.error(QStringLiteral("The download could not be started (%1)").arg(failure));
    m_logger.warning(QStringLiteral("restart downloading  due apt-get error"));
    if (m_progress.isForced()) {
        // Not at once: a stage program that cannot start would loop here.
        QTimer::singleShot(m_download->pollInterval(), this, &Daemon::downloadUpdatesByScript);
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
    if (m_download->poll(where) != Download::Poll::Ended)
        return;
    if (getDownloadResult() != 0) {
        m_logger.warning(QStringLiteral("restart downloading  due apt-get error"));
        m_downloadNowOrLater(where);
        return;
    }

    m_check->start();
    Params params = m_settingsController->params();
    if (!params.upgrade_time_stamp.first || !params.upgrade_time_stamp.second.isValid()) {
        m_logger.debug(where, QStringLiteral("!params.upgrade_time_stamp.first"));
        params.upgrade_time_stamp
                = {true, QDateTime::currentDateTime().addDays(params.deadlineDelay().count())};
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
    m_download->setHold(reason);
}
