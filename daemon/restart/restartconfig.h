// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "maintenancewindow.h"

#include <QString>

#include <chrono>

struct Params;

// The restart policy's settings, read and checked once per load of the
// configuration.
struct RestartConfig
{
    enum class Mode {
        // Never restart by itself (the default).
        Never,
        // Only once the deadline has passed or forced mode is on, in a window.
        AfterDeadline,
        // In the first window after the upgrade is armed.
        InWindow,
    };

    Mode mode = Mode::Never;
    MaintenanceWindow window;
    // How long ahead people logged in are told.
    std::chrono::minutes announce {15};
    // On battery below this charge the machine does not restart.
    int minBatteryPercent = 30;
    // Why the settings were refused ("" when they were not); a refused
    // setting means no automatic restart.
    QString error;

    static RestartConfig fromParams(const Params &params);
    static QString modeWord(Mode mode);

    // How often a waiting restart asks again and a failed give-back of the
    // fleet lock's slot is retried: `product`, except in sandbox builds,
    // where tests of many machines may shorten it with the environment
    // variable KIRTA_TEST_RECHECK_MS.
    static int recheckMs(int product);
};
