// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "donotcheckfreespace.h"

#include "logger.h"

DoNotCheckFreeSpace::DoNotCheckFreeSpace(Logger *logger)
    : SpaceCheckStrategy(logger)
{ }

DoNotCheckFreeSpace::~DoNotCheckFreeSpace() = default;

bool DoNotCheckFreeSpace::check()
{
    if (m_logger)
        m_logger->warning(QStringLiteral("do not check free space"));
    return true;
}
