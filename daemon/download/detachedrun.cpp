// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "detachedrun.h"

#include "processinfo.h"

#include <unistd.h>

DetachedRun DetachedRun::of(qint64 pid)
{
    const ProcessInfo info = ProcessInfo::of(pid);
    return {pid, info.startTime, info.session};
}

bool DetachedRun::isAlive() const
{
    if (pid <= 0 || startTime == 0)
        return false;
    const ProcessInfo info = ProcessInfo::of(pid);
    return info.isAlive() && info.startTime == startTime && info.owner == uint(::geteuid());
}
