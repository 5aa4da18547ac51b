// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"

#include "processinfo.h"

#include <QElapsedTimer>
#include <QThread>

#include <signal.h>
#include <unistd.h>

namespace {
// How often the group is looked at while members other than the program
// itself may still be on their way out.
constexpr int GROUP_POLL_MS = 20;
} // namespace

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
{ }

ChildProcess::~ChildProcess()
{
    if (m_ending == Ending::Running)
        end();
}

void ChildProcess::setupChildProcess()
{
    // In the child, before exec: the run's own group, led by the program.
    ::setpgid(0, 0);
}

ChildProcess::Ending ChildProcess::run(int waitMs, Overrun overrun, QIODevice::OpenMode mode)
{
    if (m_ending == Ending::Running)
        end();
    m_group = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    start(mode);
    if (!waitForStarted(waitMs) && state() == QProcess::NotRunning) {
        m_ending = Ending::FailedToStart;
        return m_ending;
    }
    m_group = processId();
    m_ending = Ending::Running;
    const int left = waitMs < 0 ? -1 : int(qMax<qint64>(0, waitMs - elapsed.elapsed()));
    if (state() == QProcess::NotRunning || waitForFinished(left)
        || state() == QProcess::NotRunning) {
        m_ending = m_endingOfFinished();
        return m_ending;
    }
    if (overrun == Overrun::Leave)
        return m_ending;
    return end();
}

ChildProcess::Ending ChildProcess::wait(int waitMs)
{
    if (m_ending == Ending::Running
        && (state() == QProcess::NotRunning || waitForFinished(waitMs)
            || state() == QProcess::NotRunning))
        m_ending = m_endingOfFinished();
    return m_ending;
}

ChildProcess::Ending ChildProcess::end()
{
    if (m_ending != Ending::Running)
        return m_ending;
    if (m_group <= 0) {
        // Never a signal to group 0 or -1: that would be the daemon's own
        // group or every process.
        kill();
        waitForFinished(m_graceMs);
        m_ending = Ending::TimedOutKilled;
        return m_ending;
    }
    // Once the program has been reaped, its group id may only be signalled
    // while members are left: without any it could be reused by others.
    if (state() == QProcess::NotRunning && !ProcessInfo::groupAlive(m_group)) {
        m_ending = m_endingOfFinished();
        return m_ending;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    ::kill(pid_t(-m_group), SIGTERM);
    const bool programEnded = state() == QProcess::NotRunning || waitForFinished(m_graceMs);
    const int left = int(qMax<qint64>(0, m_graceMs - elapsed.elapsed()));
    if (programEnded && m_waitGroupGone(left)) {
        m_ending = Ending::TimedOutTerminated;
        return m_ending;
    }
    ::kill(pid_t(-m_group), SIGKILL);
    if (state() != QProcess::NotRunning)
        waitForFinished(m_graceMs);
    // SIGKILL is not refused, but it takes effect a moment later.
    m_waitGroupGone(m_graceMs);
    m_ending = Ending::TimedOutKilled;
    return m_ending;
}

QString ChildProcess::describe(int waitMs) const
{
    switch (m_ending) {
    case Ending::NotStarted:
        return QStringLiteral("was not started");
    case Ending::Running:
        return QStringLiteral("did not finish within %1 ms").arg(waitMs);
    case Ending::Exited:
        return QStringLiteral("exited with code %1").arg(exitCode());
    case Ending::Crashed:
        return QStringLiteral("crashed");
    case Ending::FailedToStart:
        return QStringLiteral("could not be started: ") + errorString();
    case Ending::TimedOutTerminated:
        return QStringLiteral("did not finish within %1 ms, terminated").arg(waitMs);
    case Ending::TimedOutKilled:
        return QStringLiteral("did not finish within %1 ms, killed").arg(waitMs);
    }
    return QString();
}

ChildProcess::Ending ChildProcess::m_endingOfFinished() const
{
    return exitStatus() == QProcess::NormalExit ? Ending::Exited : Ending::Crashed;
}

bool ChildProcess::m_waitGroupGone(int ms) const
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (ProcessInfo::groupAlive(m_group)) {
        if (elapsed.elapsed() >= ms)
            return false;
        QThread::msleep(GROUP_POLL_MS);
    }
    return true;
}
