// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QDateTime>
#include <QRandomGenerator64>
#include <QTimer>

int Daemon::downloadDelayMinutes(int minDelay, int maxDelay, quint32 randomWord)
{
    if (minDelay >= maxDelay)
        return maxDelay;
    // The span fits 32 unsigned bits, so span * word fits 64 unsigned bits.
    const quint64 span = quint64(qint64(maxDelay) - minDelay);
    return int(minDelay + qint64((span * randomWord) >> 32));
}

void Daemon::setDownloadTimerInterval()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!m_downloadUpdatesTimer) {
        m_logger.debug(where, QStringLiteral("!m_downloadUpdatesTimer"));
        return;
    }
    const int minDelay = m_settingsController->params().t_download_min.second;
    const int maxDelay = m_settingsController->params().t_download_max.second;
    int delay;
    if (minDelay < maxDelay) {
        delay = downloadDelayMinutes(minDelay, maxDelay, QRandomGenerator64::global()->generate());
        m_logger.debug(where, QStringLiteral("maxDelay > minDelay"));
    } else {
        delay = downloadDelayMinutes(minDelay, maxDelay, 0);
        m_logger.debug(where, QStringLiteral("maxDelay == minDelay"));
    }
    setTimerMinutes(m_downloadUpdatesTimer, delay, KEY_T_DOWNLOAD_MAX);
    m_logger.info(QStringLiteral("Generated value for download delay, minutes = %1").arg(delay));
}

void Daemon::startDownloadTimer()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!m_downloadUpdatesTimer) {
        m_logger.debug(where, QStringLiteral("m_downloadUpdatesTimer == nullptr"));
        m_downloadUpdatesTimer = new QTimer(this);
        // Once per drawn delay: a delay of 0 repeated would spin the event
        // loop while the download waits for the connection, which then
        // starts it by itself.
        m_downloadUpdatesTimer->setSingleShot(true);
        connect(m_downloadUpdatesTimer, &QTimer::timeout, this, &Daemon::downloadUpdatesByScript);
    }
    setDownloadTimerInterval();
    m_downloadUpdatesTimer->start();
}

void Daemon::m_startStampTimer(QTimer *&timer, const QString &where, const QString &timerName,
                               void (Daemon::*slot)())
{
    m_logger.debug(where);
    if (!timer) {
        m_logger.debug(where, timerName + QStringLiteral(" == nullptr"));
        timer = new QTimer(this);
        // The interval is set only here; a reload retunes the deadline timer.
        setTimerMinutes(timer, m_settingsController->params().t_end_check.second, KEY_T_END_CHECK,
                        MIN_CHECK_PERIOD_MINUTES);
        connect(timer, &QTimer::timeout, this, slot);
    }
    timer->start();
}

void Daemon::startTEndTimer()
{
    m_startStampTimer(m_checkTEndTimer, KIRTA_WHERE, QStringLiteral("m_checkTEndTimer"),
                      &Daemon::checkTimeEnd);
}

void Daemon::startEndRetryTimer()
{
    m_startStampTimer(m_checkRetryTimeStampTimer, KIRTA_WHERE,
                      QStringLiteral("m_checkRetryTimeStampTimer"), &Daemon::checkRetryTimeStamp);
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
        if (m_checkUpdatesTimer) {
            m_logger.debug(where, QStringLiteral("m_checkUpdatesTimer != nullptr"));
            m_checkUpdatesTimer->stop();
        }
        checkUpdates();
        break;
    default:
        break;
    }
    return toInt(OutsideAnswer::Done);
}
