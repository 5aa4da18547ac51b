// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "spacecheckstrategy.h"

SpaceCheckStrategy::SpaceCheckStrategy(Logger *logger)
    : m_logger(logger)
{ }

SpaceCheckStrategy::~SpaceCheckStrategy() = default;

void SpaceCheckStrategy::setReposPolicy(int value)
{
    m_reposPolicy = value;
}

int SpaceCheckStrategy::reposPolicy() const
{
    return m_reposPolicy;
}
