// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "buscontract.h"

// The numbers the daemon reads from its settings and the stage program's
// answers, by name; the ones the bus carries are in buscontract.h. The
// values are fixed: the stage program and the configuration file see them.

// "Action_on_error".
enum class ErrorAction : int {
    Retry = 0,
    Stop = 1,
    Reset = 2,
};

// getMajorReportMode. Only NothingPending lets minor updates go on.
enum class MajorReportMode : int {
    Unreadable = -1, // no report, or no upgrade state in it
    NothingPending = 0,
    Prepared = 1,
    Armed = 2,
    Forced = 3,
};

// "upgrade_mode" of the major-release upgrade tool's report, as far as the
// daemon tells them apart.
enum class MajorToolMode : int {
    Prepared = 3, // waits to be armed
    Armed = 4, // armed for the next reboot
};

// m_allReposPolicy: which source lists the package tool reads.
enum class ReposPolicy : int {
    MainListOnly = 0,
    ToolDefaults = 1,
    ExtraOnly = 2,
    MainAndExtra = 3,
};

// "Extra_repos_policy": the extra repositories instead of or besides the main list.
enum class ExtraReposPolicy : int {
    Instead = 0,
    Besides = 1,
};

// "Free_space_policy" as the imitation reads it: only CheckDefaultMode runs
// it without "-S".
enum class FreeSpacePolicy : int {
    CheckDefaultMode = 0,
    Check = 1,
    DoNotCheck = 2,
};

// Answers of the stage program's "get_fs_type".
enum class FsType : int {
    Other = 0,
    Lvm = 1,
};
