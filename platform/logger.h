// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// The place of a log line: the signature of the function it is written in,
// as the compiler spells it ("void Daemon::checkUpdates()",
// "int Daemon::foo(const QString&) const").
#define KIRTA_WHERE QString::fromLatin1(Q_FUNC_INFO)

// The daemon's log.
//
// Every call appends one line "yyyy-MM-dd hh:mm:ss.zzz LEVEL where: message"
// to the log file (value dumps read "where: name = value"; a call without a
// place has no "where: "). Lines below the current level are dropped. The
// file is opened for each line, so a rotated log is picked up at once; when
// it cannot be opened the line goes to standard error instead. Calls from
// several threads never interleave within a line. Copies write to the same
// file and start with the same level.
class Logger
{
public:
    enum Level { Debug = 10, Info = 20, Warning = 30, Error = 40 };

    Logger(const QString &filePath, Level level);
    // Takes "debug", "info", "warning" or "error" in any case; anything else
    // keeps the current level and logs a warning naming the text.
    void setLevel(const QString &levelName);
    void setLevel(Level level);
    Level level() const;
    QString filePath() const;

    void debug(const QString &text) const;
    void debug(const QString &where, const QString &message) const;
    void debug(const QString &where, const QString &name, int value) const;
    void info(const QString &message) const;
    void warning(const QString &message) const;
    void error(const QString &message) const;

    static QString levelName(Level level);

private:
    void write(Level level, const QString &where, const QString &message) const;

    QString m_filePath;
    Level m_level;
};
