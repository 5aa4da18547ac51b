// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <functional>

// Polls `condition` until it holds or `timeoutMs` have passed, processing
// events in between so that timers, process and D-Bus signals keep flowing.
// The condition is checked once more at the deadline.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.hasExpired(timeoutMs))
            return condition();
        QTest::qWait(10);
    }
    return true;
}

// Fails the current test, naming the condition, when it does not hold
// within `timeoutMs`.
#define KIRTA_WAIT_VERIFY(cond, timeoutMs) \
    QVERIFY2(waitUntil([&]() -> bool { return bool(cond); }, (timeoutMs)), \
             "Timed out after " #timeoutMs " ms waiting for: " #cond)
