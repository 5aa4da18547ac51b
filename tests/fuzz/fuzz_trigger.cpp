// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The trigger file reader: any file content must give either no time or a
// valid one, and only the first line may count.

#include "constants.h"
#include "fuzzsandbox.h"
#include "logger.h"
#include "triggerchecker.h"

#include <QByteArray>
#include <QDateTime>

#include <cstdio>
#include <cstdlib>

// Befriended by the checker for its tests; this program defines its own.
class TestTriggerChecker
{
public:
    static QDateTime read(const TriggerChecker &checker)
    {
        return checker.m_getDateTimeFromTrigger();
    }
};

namespace {
// Longest first line that is read whole (the reader reads up to 4096 bytes).
const int MAX_WHOLE_LINE = 4000;

Logger *g_logger = nullptr;
TriggerChecker *g_checker = nullptr;

QDateTime readTrigger(const QByteArray &content)
{
    FuzzSandbox::writeFile(TRIGGER_FILE_PATH, content);
    return TestTriggerChecker::read(*g_checker);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSandbox::silenceQtMessages();
    FuzzSandbox::requireInside(TRIGGER_FILE_PATH);
    // Errors only: the reader's info lines would cost a file write per input.
    g_logger = new Logger(FuzzSandbox::root() + QStringLiteral("/trigger.log"), Logger::Error);
    g_checker = new TriggerChecker(FuzzSandbox::root() + QStringLiteral("/no-stage-program"),
                                   g_logger);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));
    const QDateTime time = readTrigger(content);
    if (time.isValid())
        FuzzSandbox::check(time.time().second() == 0 && time.time().msec() == 0,
                           "a trigger time has seconds");

    // What follows the first line must not matter.
    const int lineEnd = content.indexOf('\n');
    if (lineEnd >= 0 && lineEnd < MAX_WHOLE_LINE) {
        const QByteArray otherTail
                = content.left(lineEnd + 1) + QByteArrayLiteral("00:00 01.01.2000\nx\n");
        const QDateTime other = readTrigger(otherTail);
        if (other != time) {
            std::fprintf(stderr, "first line read as \"%s\", with other lines after it as \"%s\"\n",
                         qPrintable(time.toString(Qt::ISODate)),
                         qPrintable(other.toString(Qt::ISODate)));
            std::abort();
        }
    }

    // The public question reads the same file; it must survive it too.
    g_checker->isTriggerTimePassed();
    return 0;
}
