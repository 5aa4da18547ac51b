// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logthrottle.h"

bool LogThrottle::pass(int *heldBack)
{
    if (m_lastWritten.isValid() && !m_lastWritten.hasExpired(INTERVAL_MS)) {
        ++m_heldBack;
        return false;
    }
    m_lastWritten.start();
    *heldBack = m_heldBack;
    m_heldBack = 0;
    return true;
}
