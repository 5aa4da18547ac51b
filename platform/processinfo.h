// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QtGlobal>

// What the kernel says about one process, read from /proc/PID/stat and the
// owner of /proc/PID. A process id alone names whoever holds it now; the
// start time and the owner tell a process apart from a later one that got
// the same id.
struct ProcessInfo
{
    bool exists = false;
    char state = '?';
    qint64 parent = 0;
    qint64 group = 0;
    qint64 session = 0;
    // Clock ticks after boot; fixed for the life of the process.
    quint64 startTime = 0;
    uint owner = uint(-1);

    // `exists` false when there is no such process (or it cannot be read).
    static ProcessInfo of(qint64 pid);

    // A zombie has ended; only its exit status is left.
    bool isAlive() const { return exists && state != 'Z' && state != 'X'; }

    // True while any process, zombies aside, is a member of `group`.
    static bool groupAlive(qint64 group);
};
