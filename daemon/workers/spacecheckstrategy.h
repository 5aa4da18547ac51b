// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

class Logger;

// One way of checking that an upgrade has room on disk.
class SpaceCheckStrategy
{
public:
    // `logger` is not owned and may be null (nothing is logged then).
    explicit SpaceCheckStrategy(Logger *logger);
    virtual ~SpaceCheckStrategy();

    // True when the upgrade may go on.
    virtual bool check() = 0;
    // The repository policy handed to the free-space query.
    virtual void setReposPolicy(int value);
    int reposPolicy() const;

protected:
    Logger *m_logger;
    int m_reposPolicy = 0;
};
