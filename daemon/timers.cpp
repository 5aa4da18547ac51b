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
    const QString where = QStringLiteral("void Daemon::setDownloadTimerInterval()");
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

void Daemon::startTEndTimer()
{
    const QString where = QStringLiteral("void Daemon::startTEndTimer()");
    m_logger.debug(where);
    if (!m_checkTEndTimer) {
        m_logger.debug(where, QStringLiteral("m_checkTEndTimer == nullptr"));
        m_checkTEndTimer = new QTimer(this);
        setTimerMinutes(m_checkTEndTimer, m_settingsController->params().t_end_check.second,
                        KEY_T_END_CHECK);
    }
    m_checkTEndTimer->start();
}

void Daemon::startEndRetryTimer()
{
    const QString where = QStringLiteral("void Daemon::startEndRetryTimer()");
    m_logger.debug(where);
    if (!m_checkRetryTimeStampTimer) {
        m_logger.debug(where, QStringLiteral("m_checkRetryTimeStampTimer == nullptr"));
        m_checkRetryTimeStampTimer = new QTimer(this);
        setTimerMinutes(m_checkRetryTimeStampTimer,
                        m_settingsController->params().t_end_check.second, KEY_T_END_CHECK);
    }
    m_checkRetryTimeStampTimer->start();
}

static bool isSetAndPassed(const QDateTime &timeStamp)
{
    return timeStamp.isValid() && QDateTime::currentDateTime() >= timeStamp;
}

bool Daemon::isTEndSetAndPassed() const
{
    m_logger.debug(QStringLiteral("bool Daemon::isTEndSetAndPassed() const"));
    return isSetAndPassed(m_settingsController->params().upgrade_time_stamp.second);
}

bool Daemon::isRetryTimeStampSetAndPassed() const
{
    m_logger.debug(QStringLiteral("bool Daemon::isRetryTimeStampSetAndPassed() const"));
    return isSetAndPassed(m_settingsController->params().retry_time_stamp.second);
}
