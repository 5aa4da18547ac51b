// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "aptkiller.h"

#include "childprocess.h"
#include "constants.h"
#include "logger.h"
#include "processinfo.h"

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
// Ancestors looked at before a holder counts as foreign.
const int MAX_ANCESTRY = 64;
} // namespace

AptKiller::AptKiller(Logger *logger, const QList<qint64> &ownGroups)
    : QObject(nullptr)
    , m_logger(logger)
    , m_ownGroups(ownGroups)
{ }

void AptKiller::killApt()
{
    const int pid = m_getPid();
    if (pid == -1)
        return;
    if (!m_isOwn(pid)) {
        if (m_logger)
            m_logger->warning(
                    QStringLiteral("The package lock is held by %1, which the daemon did not "
                                   "start: left alone")
                            .arg(pid));
        return;
    }
    if (m_logger)
        m_logger->info(QStringLiteral("terminating %1").arg(pid));
    // The whole run the holder belongs to (a stage program and its apt-get
    // or dpkg), but never the daemon's own group.
    const qint64 group = ProcessInfo::of(pid).group;
    const pid_t target = group > 1 && group != qint64(::getpgrp()) ? pid_t(-group) : pid_t(pid);
    if (::kill(target, SIGTERM) == 0) {
        emit cleanCache();
        return;
    }
    if (m_logger)
        m_logger->error(QStringLiteral("Failed to terminate %1").arg(pid));
}

void AptKiller::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

int AptKiller::timeoutMs() const
{
    return m_timeoutMs;
}

int AptKiller::m_getPid()
{
    if (m_logger)
        m_logger->debug(KIRTA_WHERE);
    ChildProcess lsof;
    lsof.setProgram(LSOF_PATH);
    lsof.setArguments({QStringLiteral("-t"), APTCACHE_POINT + QStringLiteral("/lock")});
    // A crashed lsof may have printed half a line: no answer either.
    if (lsof.run(m_timeoutMs) != ChildProcess::Ending::Exited) {
        if (m_logger)
            m_logger->error(QStringLiteral("Failed to get apt pid"));
        return -1;
    }
    const QString text = QString::fromLocal8Bit(lsof.readAllStandardOutput().constData());
    bool ok = false;
    const int pid = text.trimmed().toInt(&ok);
    // kill() takes 0 and negative ids for whole process groups, the
    // daemon's own among them.
    if (!ok || pid <= 0) {
        if (m_logger)
            m_logger->error(QStringLiteral("Failed to get apt pid: %1").arg(pid));
        return -1;
    }
    return pid;
}

bool AptKiller::m_isOwn(qint64 pid) const
{
    // The daemon's runs each have a group (or, the detached download, a
    // session) of their own; their children stay in it unless they leave,
    // and those that leave still descend from a process in it.
    ProcessInfo info = ProcessInfo::of(pid);
    for (int depth = 0; info.exists && depth < MAX_ANCESTRY; ++depth) {
        if (m_ownGroups.contains(info.group) || m_ownGroups.contains(info.session))
            return true;
        if (info.parent <= 1)
            break;
        info = ProcessInfo::of(info.parent);
    }
    return false;
}
