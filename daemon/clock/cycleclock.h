// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>

#include <chrono>

class Logger;
class QTimer;

// The update cycle's clock: the random delay before a download and the two
// watches on stamps of the configuration, the deadline ("T_end") and the
// retry stamp ("Retry_time_stamp"). It owns these timers and says when one
// is due; what is then done (and what is logged of it) is the daemon's.
//
//   download delay  single shot, drawn anew at each start from
//                   "T_download_min" to "T_download_max" minutes -> downloadDue
//   deadline watch  "T_end_check" minutes, repeating -> deadlineCheckDue
//   retry watch     "T_end_check" minutes, repeating -> retryCheckDue
//
// Each exists from its first start on. A watch that exists but stands still
// was halted by a stop; dropping it lets the next start create it anew.
class CycleClock : public QObject
{
    Q_OBJECT

public:
    enum class Watch { Deadline, Retry };

    // `logger` must outlive the clock: intervals out of bounds are warned of.
    explicit CycleClock(const Logger &logger, QObject *parent = nullptr);

    // The random download delay from the bounds and a 32-bit random word:
    // uniform over [minDelay, maxDelay), or maxDelay when the bounds are
    // equal or reversed.
    static std::chrono::minutes downloadDelayMinutes(std::chrono::minutes minDelay,
                                                     std::chrono::minutes maxDelay,
                                                     quint32 randomWord);
    // A QTimer interval in milliseconds; out-of-range values are clamped
    // (the largest interval a QTimer takes is about 24.8 days).
    static int minutesToMsec(std::chrono::minutes minutes, bool *clamped = nullptr);
    // Interval of `timer`, at least `floor`, with a warning naming the key
    // `what` when bounded.
    void setMinutes(QTimer *timer, std::chrono::minutes minutes, const QString &what,
                    std::chrono::minutes floor = std::chrono::minutes::zero()) const;

    // Download delay: drawn from the bounds.
    static std::chrono::minutes drawDownloadDelay(std::chrono::minutes minDelay,
                                                  std::chrono::minutes maxDelay);
    void setDownloadDelay(std::chrono::minutes delay);
    bool hasDownloadDelay() const;
    bool isDownloadDelayRunning() const;
    // Creates the timer when there is none, still; a start creates it too.
    void createDownloadDelay();
    void startDownloadDelay();
    void stopDownloadDelay();

    // Stamp watches.
    bool hasWatch(Watch watch) const;
    bool isWatchRunning(Watch watch) const;
    // Creates the watch with the period `every` (at least a minute) when
    // there is none, and starts it.
    void startWatch(Watch watch, std::chrono::minutes every);
    void retuneWatch(Watch watch, std::chrono::minutes every);
    void haltWatch(Watch watch);
    void dropWatch(Watch watch);

    // The timer itself, null while it does not exist: for whole-daemon
    // tests that read or shorten it.
    QTimer *downloadDelayTimer() const { return m_downloadDelay; }
    QTimer *watchTimer(Watch watch) const;

Q_SIGNALS:
    void downloadDue();
    void deadlineCheckDue();
    void retryCheckDue();

private:
    static std::chrono::minutes watchFloor();
    QTimer *&watchSlot(Watch watch);

    const Logger &m_logger;
    QTimer *m_downloadDelay = nullptr;
    QTimer *m_deadlineWatch = nullptr;
    QTimer *m_retryWatch = nullptr;
};
