// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>
#include <QStringList>

class Logger;
class QThread;

// The first block's own work before an upgrade may be armed: the free-space
// check and the rehearsal of the upgrade (the imitation, on a thread of its
// own so the bus and the timers go on meanwhile). The hooks around it are
// stage-program runs, and what a result moves is the update's progress: both
// stay with the facade, which this part tells when a pass is due and how the
// imitation ended.
//
// One pass at a time: a pass asked for while one is due or its imitation
// runs is the same pass, and its one result arms the upgrade whoever asked.
class FirstBlock : public QObject
{
    Q_OBJECT

public:
    // An arm answers its caller before the pass it asked for begins.
    static constexpr int SCHEDULE_DELAY_MSEC = 10;

    // `logger` must outlive the part; the free-space check writes to it.
    explicit FirstBlock(Logger &logger, QObject *parent = nullptr);
    // Waits for a running imitation: its worker gives up within its own
    // bound, and a thread may not be destroyed while it runs.
    ~FirstBlock() override;

    // `due` follows shortly, once, however often this is asked for until it
    // has come.
    void schedule();
    bool isScheduled() const;
    bool isImitating() const;
    // Scheduled, or the imitation of a pass still runs: an arm asked for
    // now needs no pass of its own.
    bool isUnderWay() const;

    // The free-space check that Free_space_policy `policy` selects (2 does
    // not check), for the repositories that `reposPolicy` selects.
    bool hasEnoughSpace(int policy, int reposPolicy);

    // Starts the imitation with the repository options `repoArgs`; without
    // `defaultMode` it runs in its space-saving mode. Refused (false, nothing
    // started) while one runs. Its end comes as `imitationFinished`.
    bool startImitation(const QStringList &repoArgs, bool defaultMode);
    // The imitation's bound, for the runs started after this.
    void setImitationTimeoutMs(int ms);

Q_SIGNALS:
    void due();
    // 0 is a passed imitation; see Controller for the other results.
    void imitationFinished(int result);

private:
    Logger &m_logger;
    bool m_scheduled = false;
    int m_timeoutMs;
    // Only ever the newest imitation's thread; null once it is released.
    QThread *m_thread = nullptr;
};
