// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "spacecheckstrategy.h"

// Asks the stage program whether the upgrade fits ("is_enough_free_space"
// with the repository policy). A program that is missing, crashes or hangs
// reads as "not enough".
class CheckFreeSpaceWithKirtaUpdateModern : public SpaceCheckStrategy
{
public:
    explicit CheckFreeSpaceWithKirtaUpdateModern(Logger *logger);
    ~CheckFreeSpaceWithKirtaUpdateModern() override;

    bool check() override;
};
