// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "spacecheckstrategy.h"

// Free_space_policy 2: the check is switched off and always passes.
class DoNotCheckFreeSpace : public SpaceCheckStrategy
{
public:
    explicit DoNotCheckFreeSpace(Logger *logger);
    ~DoNotCheckFreeSpace() override;

    bool check() override;
};
