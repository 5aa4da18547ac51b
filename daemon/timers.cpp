// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QDateTime>
#include <QTimer>

void Daemon::setDownloadTimerInterval()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!m_clock->hasDownloadDelay()) {
        m_logger.debug(where, QStringLiteral("!m_downloadUpdatesTimer"));
        return;
    }
    const std::chrono::minutes minDelay = m_settingsController->params().downloadDelayMin();
    const std::chrono::minutes maxDelay = m_settingsController->params().downloadDelayMax();
    const std::chrono::minutes delay = CycleClock::drawDownloadDelay(minDelay, maxDelay);
    m_logger.debug(where, minDelay < maxDelay ? QStringLiteral("maxDelay > minDelay")
                                              : QStringLiteral("maxDelay == minDelay"));
    m_clock->setDownloadDelay(delay);
    m_logger.info(QStringLiteral("Generated value for download delay, minutes = %1")
                          .arg(qint64(delay.count())));
}

void Daemon::startDownloadTimer()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!m_clock->hasDownloadDelay()) {
        m_logger.debug(where, QStringLiteral("m_downloadUpdatesTimer == nullptr"));
        m_clock->createDownloadDelay();
    }
    setDownloadTimerInterval();
    m_clock->startDownloadDelay();
}

void Daemon::m_startStampTimer(CycleClock::Watch watch, const QString &where,
                               const QString &timerName)
{
    m_logger.debug(where);
    if (!m_clock->hasWatch(watch))
        m_logger.debug(where, timerName + QStringLiteral(" == nullptr"));
    m_clock->startWatch(watch, m_settingsController->params().deadlineCheckPeriod());
}

void Daemon::startTEndTimer()
{
    m_startStampTimer(CycleClock::Watch::Deadline, KIRTA_WHERE, QStringLiteral("m_checkTEndTimer"));
}

void Daemon::startEndRetryTimer()
{
    m_startStampTimer(CycleClock::Watch::Retry, KIRTA_WHERE,
                      QStringLiteral("m_checkRetryTimeStampTimer"));
}

static bool isSetAndPassed(const QDateTime &timeStamp)
{
    return timeStamp.isValid() && QDateTime::currentDateTime() >= timeStamp;
}

bool Daemon::isTEndSetAndPassed() const
{
    m_logger.debug(KIRTA_WHERE);
    return isSetAndPassed(m_settingsController->params().upgrade_time_stamp.second);
}

bool Daemon::isRetryTimeStampSetAndPassed() const
{
    m_logger.debug(KIRTA_WHERE);
    return isSetAndPassed(m_settingsController->params().retry_time_stamp.second);
}

int Daemon::isUpgradeCanBeDisabled()
{
    m_logger.debug(KIRTA_WHERE);
    if (m_progress.isArmed() && m_progress.isForced()) {
        m_logger.warning(QStringLiteral("FORCED: UPDATE CANNOT BE DISABLED"));
        return toInt(DisarmCheck::ForcedArmed);
    }
    if (isTEndSetAndPassed()) {
        m_logger.warning(QStringLiteral("TIME PASSED: UPDATE CANNOT BE DISABLED"));
        return toInt(DisarmCheck::DeadlinePassed);
    }
    return toInt(DisarmCheck::Allowed);
}

void Daemon::checkTimeEnd()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (m_progress.isArmed())
        return;
    m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = false"));
    if (isTEndSetAndPassed()) {
        m_logger.debug(where, QStringLiteral("isTEndSetAndPassed() = true"));
        enableUpgradeOnReboot();
    }
}

void Daemon::checkRetryTimeStamp()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (isRetryTimeStampSetAndPassed()) {
        m_logger.debug(where, QStringLiteral("isRetryTimeStampSetAndPassed() = true"));
        tryToPassFirstBlock();
    }
}

int Daemon::setForcedMode()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    m_progress.setForced(true);
    Params params = m_settingsController->params();
    QDateTime timeStamp = params.upgrade_time_stamp.second;
    const QDateTime now = QDateTime::currentDateTime();
    if (timeStamp.isValid() && now < timeStamp) {
        m_logger.debug(
                where,
                QStringLiteral("timeStamp.isValid() && QDateTime::currentDateTime() < timeStamp"));
        timeStamp = now;
    }
    if (!timeStamp.isValid()) {
        m_logger.debug(where, QStringLiteral("!timeStamp.isValid()"));
        timeStamp = now;
    }
    params.upgrade_time_stamp = {true, timeStamp};
    m_settingsController->setParams(params);
    m_settingsController->sync();

    m_logger.debug(where, QStringLiteral("m_task"), m_progress.task());
    switch (CurrentTask(m_progress.task())) {
    case CurrentTask::WaitingForDownload:
        downloadUpdatesByScript();
        break;
    case CurrentTask::DownloadCompleted:
        if (!m_progress.isArmed()) {
            m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = false"));
            enableUpgradeOnReboot();
        }
        break;
    case CurrentTask::WaitingForUpdates:
        // The line's words predate the check's own part; filters know them.
        m_logger.debug(where, QStringLiteral("m_checkUpdatesTimer != nullptr"));
        m_check->stop();
        checkUpdates();
        break;
    default:
        break;
    }
    return toInt(OutsideAnswer::Done);
}
