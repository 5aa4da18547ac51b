// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "codes.h"
#include "currenttask.h"

// Where one update stands, as one value: the daemon changes it only through
// UpdateProgress::set, so that every part sees the task, the arming and the
// error of the same moment.
struct Progress
{
    // CurrentTask values; plain ints, so that any stored value renders.
    int task = toInt(CurrentTask::Unknown);
    // The task a connection wait returns to.
    int returnTask = toInt(CurrentTask::Unknown);
    // The step (check or download) to take again once the connection is back.
    int logicalTask = toInt(CurrentTask::Unknown);
    // The boot-time upgrade is armed.
    bool armed = false;
    // An arm was asked for before the download ended: it arms on completion.
    bool armWhenComplete = false;
    // Hooks, free-space check and rehearsal have passed for this download.
    bool firstBlockPassed = false;
    // Forced mode: download at once, arm at once, no disarm.
    bool forced = false;
    // ErrorNumber value, as clients read it.
    int error = toInt(ErrorNumber::None);
    // The immediate re-check of a Reset runs.
    bool resetRecheckRunning = false;

    bool operator==(const Progress &other) const;
    bool operator!=(const Progress &other) const { return !(*this == other); }
};
