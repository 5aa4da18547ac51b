// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>
#include <QStringList>

// The place of a log line: the signature of the function it is written in,
// spelled the same whichever compiler built the program
// ("void Daemon::checkUpdates()", "void Daemon::parseExtraRepos(const QString&)").
#define KIRTA_WHERE KIRTA_PLACE(Q_FUNC_INFO)

// A place spelled out, for a helper that logs under its caller's name. Each
// place, from here or from KIRTA_WHERE, is also recorded in the program's
// section "kirta_where" when it is built, so that Logger::places() knows
// every place the program can write, whether its code ran or not.
#define KIRTA_PLACE(text) \
    (__extension__({ \
        __attribute__((used, section("kirta_where"))) static const char *const kirtaPlace \
                = (text); \
        Logger::placeText(kirtaPlace); \
    }))

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

    // A place as the compiler spells a function's signature, in the one
    // spelling the log uses (g++'s: "const QString&", "{anonymous}::").
    static QString placeText(const char *compilerText);
    // Every place recorded in this program (KIRTA_WHERE, KIRTA_PLACE), sorted,
    // without repeats.
    static QStringList places();

private:
    void write(Level level, const QString &where, const QString &message) const;

    QString m_filePath;
    Level m_level;
};
