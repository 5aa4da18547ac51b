// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <memory>

class Logger;
class SpaceCheckStrategy;

// Picks the free-space check for a Free_space_policy value and runs it.
class SpaceChecker
{
public:
    // The policy value that switches the check off.
    static constexpr int POLICY_DO_NOT_CHECK = 2;

    // `logger` is not owned and may be null; every strategy made gets it.
    explicit SpaceChecker(Logger *logger);

    // Policy 2 does not check; any other value asks the stage program.
    // Replaces (and releases) the strategy set before.
    void setStrategy(int policy, int reposPolicy);
    // The strategy's answer; false when no strategy has been set, so a
    // missing call can never pass the check.
    bool check();

    std::shared_ptr<SpaceCheckStrategy> strategy() const;

private:
    Logger *m_logger;
    std::shared_ptr<SpaceCheckStrategy> m_strategy;
};
