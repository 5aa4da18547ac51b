// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// What holds an update back for the sake of power or the network plan, as
// the daemon publishes it. Empty texts: nothing holds.
struct PowerStatus
{
    // Why no download starts now ("metered connection").
    QString downloadHeld;
    // Why the last install boot left the armed upgrade alone ("battery BAT0
    // at 12 % (below 20 %), no mains power").
    QString postponedForPower;

    bool operator==(const PowerStatus &other) const
    {
        return downloadHeld == other.downloadHeld && postponedForPower == other.postponedForPower;
    }
    bool operator!=(const PowerStatus &other) const { return !(*this == other); }
};
