// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "checkfreespacewithkirtaupdatemodern.h"

#include "constants.h"
#include "logger.h"
#include "script.h"

CheckFreeSpaceWithKirtaUpdateModern::CheckFreeSpaceWithKirtaUpdateModern(Logger *logger)
    : SpaceCheckStrategy(logger)
{ }

CheckFreeSpaceWithKirtaUpdateModern::~CheckFreeSpaceWithKirtaUpdateModern() = default;

bool CheckFreeSpaceWithKirtaUpdateModern::check()
{
    if (m_logger)
        m_logger->info(QStringLiteral("Check free space with kirta-update-modern"));
    Script script(SERVICE_SCRIPT_PATH, m_logger);
    return script.isEnoughFreeSpace(m_reposPolicy);
}
