// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QProcess>

// One child program run with one policy for every bounded wait.
//
// Each run starts in a process group of its own, so that ending a run ends
// whatever the program started too (apt-get, dpkg, the snapshot manager).
// A run that outlives its wait gets SIGTERM to its whole group, a grace
// period, then SIGKILL to the group; the program itself is always reaped.
// A run may also be left going after its wait and ended later by end() or
// by the destructor.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    // How a run ended.
    enum class Ending {
        NotStarted,
        // Outlived its wait and was left going (Overrun::Leave).
        Running,
        Exited,
        Crashed,
        FailedToStart,
        TimedOutTerminated,
        TimedOutKilled,
    };
    Q_ENUM(Ending)

    // What a run that outlives its wait meets.
    enum class Overrun { End, Leave };

    static constexpr int DEFAULT_GRACE_MS = 5000;

    explicit ChildProcess(QObject *parent = nullptr);
    // Ends a run still going.
    ~ChildProcess() override;

    // Starts program() with arguments() and waits up to `waitMs` (-1: no
    // bound) for it to end. A run of this object still going is ended first.
    Ending run(int waitMs, Overrun overrun = Overrun::End,
               QIODevice::OpenMode mode = QIODevice::ReadWrite);

    // Waits up to `waitMs` for the run left going to end by itself; it is
    // still Running when it did not.
    Ending wait(int waitMs);

    // Ends the run left going: SIGTERM to its group, up to graceMs() for the
    // group to go, then SIGKILL to the group. Answers how the run ended.
    Ending end();

    Ending ending() const { return m_ending; }
    // The process group of the latest run (its leader's process id), or 0.
    qint64 processGroup() const { return m_group; }
    void setGraceMs(int ms) { m_graceMs = ms; }
    int graceMs() const { return m_graceMs; }

    // "exited with code 3", "crashed", "could not be started: ...",
    // "did not finish within 30000 ms, terminated" and so on.
    QString describe(int waitMs) const;

protected:
    void setupChildProcess() override;

private:
    Ending m_endingOfFinished() const;
    bool m_waitGroupGone(int ms) const;

    Ending m_ending = Ending::NotStarted;
    qint64 m_group = 0;
    int m_graceMs = DEFAULT_GRACE_MS;
};
