// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "detachedrun.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class Logger;
class QTimer;

// The download of the packages: the stage program's run, started detached
// (it may take hours and must outlive nothing but itself), the poll that
// watches for its end, and the hold that keeps a due download back while
// the link is metered or the power short.
//
// Whether the run's result was good is the stage program's to say once it
// has ended (the facade asks it); this part only tells that it has.
// Its debug lines go under the caller's place: administrators' filters know
// them there.
class Download : public QObject
{
    Q_OBJECT

public:
    // What a poll found.
    enum class Poll {
        NoRun, // nothing was started, or its start failed: the poll stops
        Running,
        Ended, // gone (or another process holds its id now): the poll stops
    };

    // Every 5 s: a download takes minutes, its end may wait that long.
    static constexpr int POLL_MSEC = 5000;

    // `logger` must outlive the part; `program` is the stage program.
    Download(const Logger &logger, const QString &program, QObject *parent = nullptr);

    // Starts the program with `arguments`, detached, and polls it from now
    // on (pollDue). An empty failure when it runs; otherwise
    // "PROGRAM ARGUMENTS: reason", the poll stopped and no run known, so a
    // later poll never judges an earlier run.
    QString start(const QStringList &arguments, const QString &where);
    // For the poll's slot: stops the poll once there is nothing left to
    // watch.
    Poll poll(const QString &where);
    // The update the run was for is dropped: its end is no longer watched,
    // so it cannot move the cycle that follows. The run itself stays known
    // as the daemon's own while it lasts (it may hold the package lock).
    void drop();
    bool isPolling() const;
    int pollInterval() const;
    // The run started last, whether or not it still runs.
    const DetachedRun &run() const { return m_run; }
    bool isRunning() const { return m_run.isAlive(); }

    // While `reason` is not empty a due download waits; lifting the hold
    // from a download held back signals holdLifted.
    void setHold(const QString &reason);
    const QString &hold() const { return m_hold; }
    // True when a download due now waits for the hold (logged once per
    // hold). `overridden` (forced mode, a passed deadline) is asked only
    // while a hold is set: it may weigh more than the plan's cost.
    bool holdsBack(const std::function<bool()> &overridden);

Q_SIGNALS:
    void pollDue();
    void holdLifted();

private:
    const Logger &m_logger;
    const QString m_program;
    QTimer *m_poll = nullptr;
    DetachedRun m_run;
    QString m_hold;
    // A download was due but held back.
    bool m_heldBack = false;
};
