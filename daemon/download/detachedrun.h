// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QtGlobal>

// A program started detached, known by more than its process id: once it
// has ended, another process may get the same id, and polling the id alone
// would then take whatever runs under it for the program.
struct DetachedRun
{
    qint64 pid = -1;
    // Clock ticks after boot, as the kernel has it; 0 when unknown.
    quint64 startTime = 0;
    qint64 session = 0;

    // The process that holds `pid` now, taken as the run.
    static DetachedRun of(qint64 pid);

    // Still the same process: the id, the start time and the owner (the
    // daemon's own user) all match, and it has not ended. A process that got
    // the id later, whatever it is called, is not the run.
    bool isAlive() const;
};
