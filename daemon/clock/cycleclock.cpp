// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "cycleclock.h"

#include "configkeys.h"
#include "constants.h"
#include "logger.h"

#include <QRandomGenerator64>
#include <QTimer>

#include <limits>

CycleClock::CycleClock(const Logger &logger, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
{ }

int CycleClock::downloadDelayMinutes(int minDelay, int maxDelay, quint32 randomWord)
{
    if (minDelay >= maxDelay)
        return maxDelay;
    // The span fits 32 unsigned bits, so span * word fits 64 unsigned bits.
    const quint64 span = quint64(qint64(maxDelay) - minDelay);
    return int(minDelay + qint64((span * randomWord) >> 32));
}

int CycleClock::minutesToMsec(qint64 minutes, bool *clamped)
{
    constexpr qint64 maxMsec = std::numeric_limits<int>::max();
    const qint64 msec = minutes * 60000;
    const qint64 bounded = qBound<qint64>(0, msec, maxMsec);
    if (clamped)
        *clamped = bounded != msec;
    return int(bounded);
}

void CycleClock::setMinutes(QTimer *timer, qint64 minutes, const QString &what,
                            qint64 minMinutes) const
{
    if (minutes < minMinutes) {
        m_logger.warning(QStringLiteral("%1 = %2 minutes is below the minimum, using %3")
                                 .arg(what)
                                 .arg(minutes)
                                 .arg(minMinutes));
        minutes = minMinutes;
    }
    bool clamped = false;
    const int msec = minutesToMsec(minutes, &clamped);
    if (clamped)
        m_logger.warning(QStringLiteral("%1 = %2 minutes does not fit a timer, using %3 ms")
                                 .arg(what)
                                 .arg(minutes)
                                 .arg(msec));
    timer->setInterval(msec);
}

int CycleClock::drawDownloadDelay(int minDelay, int maxDelay)
{
    const quint32 word = minDelay < maxDelay ? QRandomGenerator64::global()->generate() : 0;
    return downloadDelayMinutes(minDelay, maxDelay, word);
}

void CycleClock::setDownloadDelay(qint64 minutes)
{
    createDownloadDelay();
    setMinutes(m_downloadDelay, minutes, KEY_T_DOWNLOAD_MAX);
}

bool CycleClock::hasDownloadDelay() const
{
    return m_downloadDelay != nullptr;
}

bool CycleClock::isDownloadDelayRunning() const
{
    return m_downloadDelay && m_downloadDelay->isActive();
}

void CycleClock::createDownloadDelay()
{
    if (!m_downloadDelay) {
        m_downloadDelay = new QTimer(this);
        // Once per drawn delay: a delay of 0 repeated would spin the event
        // loop while the download waits for the connection, which then
        // starts it by itself.
        m_downloadDelay->setSingleShot(true);
        connect(m_downloadDelay, &QTimer::timeout, this, &CycleClock::downloadDue);
    }
}

void CycleClock::startDownloadDelay()
{
    createDownloadDelay();
    m_downloadDelay->start();
}

void CycleClock::stopDownloadDelay()
{
    if (m_downloadDelay)
        m_downloadDelay->stop();
}

QTimer *&CycleClock::watchSlot(Watch watch)
{
    return watch == Watch::Deadline ? m_deadlineWatch : m_retryWatch;
}

QTimer *CycleClock::watchTimer(Watch watch) const
{
    return watch == Watch::Deadline ? m_deadlineWatch : m_retryWatch;
}

bool CycleClock::hasWatch(Watch watch) const
{
    return watchTimer(watch) != nullptr;
}

bool CycleClock::isWatchRunning(Watch watch) const
{
    const QTimer *timer = watchTimer(watch);
    return timer && timer->isActive();
}

void CycleClock::startWatch(Watch watch, qint64 minutes)
{
    QTimer *&timer = watchSlot(watch);
    if (!timer) {
        timer = new QTimer(this);
        // The interval is set only here; a reload retunes the deadline watch.
        setMinutes(timer, minutes, KEY_T_END_CHECK, ConfigKeys::floorOf(&Params::t_end_check));
        connect(timer, &QTimer::timeout, this,
                watch == Watch::Deadline ? &CycleClock::deadlineCheckDue
                                         : &CycleClock::retryCheckDue);
    }
    timer->start();
}

void CycleClock::retuneWatch(Watch watch, qint64 minutes)
{
    if (QTimer *timer = watchSlot(watch))
        setMinutes(timer, minutes, KEY_T_END_CHECK, ConfigKeys::floorOf(&Params::t_end_check));
}

void CycleClock::haltWatch(Watch watch)
{
    if (QTimer *timer = watchSlot(watch))
        timer->stop();
}

void CycleClock::dropWatch(Watch watch)
{
    QTimer *&timer = watchSlot(watch);
    if (!timer)
        return;
    timer->stop();
    timer->deleteLater();
    timer = nullptr;
}
