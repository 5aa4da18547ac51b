// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "spacechecker.h"

#include "checkfreespacewithkirtaupdatemodern.h"
#include "donotcheckfreespace.h"
#include "logger.h"

SpaceChecker::SpaceChecker(Logger *logger)
    : m_logger(logger)
{ }

void SpaceChecker::setStrategy(int policy, int reposPolicy)
{
    if (policy == POLICY_DO_NOT_CHECK)
        m_strategy = std::make_shared<DoNotCheckFreeSpace>(m_logger);
    else
        m_strategy = std::make_shared<CheckFreeSpaceWithKirtaUpdateModern>(m_logger);
    m_strategy->setReposPolicy(reposPolicy);
}

bool SpaceChecker::check()
{
    if (!m_strategy) {
        if (m_logger)
            m_logger->debug(KIRTA_WHERE, QStringLiteral("m_strategy is empty"));
        return false;
    }
    return m_strategy->check();
}

std::shared_ptr<SpaceCheckStrategy> SpaceChecker::strategy() const
{
    return m_strategy;
}
