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

std::chrono::minutes CycleClock::downloadDelayMinutes(std::chrono::minutes minDelay,
                                                      std::chrono::minutes maxDelay,
                                                      quint32 randomWord)
{
    if (minDelay >= maxDelay)
        return maxDelay;
    // floor(span * word / 2^32) without a 128-bit product: the span may take
    // all 64 bits, so its halves are scaled apart. The offset stays below the
    // span, so min + offset cannot pass max.
    const quint64 span = quint64(maxDelay.count()) - quint64(minDelay.count());
    const quint64 offset = (span >> 32) * randomWord + (((span & 0xffffffffu) * randomWord) >> 32);
    return std::chrono::minutes(qint64(quint64(minDelay.count()) + offset));
}

int CycleClock::minutesToMsec(std::chrono::minutes minutes, bool *clamped)
{
    constexpr std::chrono::milliseconds maxMsec(std::numeric_limits<int>::max());
    // Bounded in minutes before the conversion, which would wrap for counts
    // beyond what milliseconds hold.
    constexpr auto maxMinutes = std::chrono::duration_cast<std::chrono::minutes>(maxMsec);
    const bool below = minutes < std::chrono::minutes::zero();
    const bool above = minutes > maxMinutes;
    if (clamped)
        *clamped = below || above;
    if (below)
        return 0;
    if (above)
        return int(maxMsec.count());
    return int(std::chrono::milliseconds(minutes).count());
}

void CycleClock::setMinutes(QTimer *timer, std::chrono::minutes minutes, const QString &what,
                            std::chrono::minutes floor) const
{
    if (minutes < floor) {
        m_logger.warning(QStringLiteral("%1 = %2 minutes is below the minimum, using %3")
                                 .arg(what)
                                 .arg(qint64(minutes.count()))
                                 .arg(qint64(floor.count())));
        minutes = floor;
    }
    bool clamped = false;
    const int msec = minutesToMsec(minutes, &clamped);
    if (clamped)
        m_logger.warning(QStringLiteral("%1 = %2 minutes does not fit a timer, using %3 ms")
                                 .arg(what)
                                 .arg(qint64(minutes.count()))
                                 .arg(msec));
    timer->setInterval(msec);
}

std::chrono::minutes CycleClock::drawDownloadDelay(std::chrono::minutes minDelay,
                                                   std::chrono::minutes maxDelay)
{
    const quint32 word = minDelay < maxDelay ? QRandomGenerator64::global()->generate() : 0;
    return downloadDelayMinutes(minDelay, maxDelay, word);
}

void CycleClock::setDownloadDelay(std::chrono::minutes delay)
{
    createDownloadDelay();
    setMinutes(m_downloadDelay, delay, KEY_T_DOWNLOAD_MAX);
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

std::chrono::minutes CycleClock::watchFloor()
{
    return std::chrono::minutes(ConfigKeys::floorOf(&Params::t_end_check));
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

void CycleClock::startWatch(Watch watch, std::chrono::minutes every)
{
    QTimer *&timer = watchSlot(watch);
    if (!timer) {
        timer = new QTimer(this);
        // The interval is set only here; a reload retunes the deadline watch.
        setMinutes(timer, every, KEY_T_END_CHECK, watchFloor());
        connect(timer, &QTimer::timeout, this,
                watch == Watch::Deadline ? &CycleClock::deadlineCheckDue
                                         : &CycleClock::retryCheckDue);
    }
    timer->start();
}

void CycleClock::retuneWatch(Watch watch, std::chrono::minutes every)
{
    if (QTimer *timer = watchSlot(watch))
        setMinutes(timer, every, KEY_T_END_CHECK, watchFloor());
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
