// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QElapsedTimer>

// Lets one kind of log line through at most once per interval, counting
// the ones held back in between, so that a caller repeating a request
// cannot fill the log.
class LogThrottle
{
public:
    static constexpr qint64 INTERVAL_MS = 60000;

    // True when a line may be written now; `heldBack` then gets how many
    // were held back since the last one written.
    bool pass(int *heldBack);

private:
    QElapsedTimer m_lastWritten;
    int m_heldBack = 0;
};
