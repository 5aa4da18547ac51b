// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

// Hook points handed to the stage program's "exec_scripts", as numbers.
enum class Stage : int {
    FirstBlock = 0,
    SecondBlock = 1,
    FakeStage = 4, // no previous stage
};

enum class SubStage : int {
    After = 0,
    Before = 1,
};
