// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "childprocess.h"

#include <QString>
#include <QStringList>

class Logger;

// One yes/no question to the stage program, answered by its exit code.
//
// Every run blocks the calling thread for at most timeoutMs(). A program
// that cannot start, crashes or does not finish in time is logged and reads
// as exit code 0, i.e. "no" for the bool questions. A run that outlives its
// bound is ended at once (with its process group), so a long-lived Script
// never has a stale run whose exit code could be taken for the answer to a
// later question.
class Script
{
public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    // `logger` is not owned and may be null.
    Script(const QString &program, Logger *logger);
    ~Script();

    Script(const Script &) = delete;
    Script &operator=(const Script &) = delete;

    // Runs the program once with `arguments`: its exit code, or 0 when it
    // has none (could not start, crashed, timed out).
    int run(const QStringList &arguments);

    bool snapshotManagerInstalled();
    bool automatizationEnabled();
    bool isEnoughFreeSpace(int reposPolicy);
    // The exit code itself; 0 when the program gave none.
    int getFsType();

    QString program() const;
    void setTimeoutMs(int ms);
    int timeoutMs() const;

private:
    bool m_exitCodeToBool(int code);

    ChildProcess m_process;
    Logger *m_logger;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};
