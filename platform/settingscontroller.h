// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "params.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class Logger;

// The parameter store of the daemon's configuration file.
//
// The file is a flat INI text: "Key=value" lines (blanks around '=' and the
// value are allowed, a value may be wrapped in double quotes), '#' and ';'
// start comment lines, group headers such as "[General]" are ignored. Keys
// are matched case-sensitively; the host key is also read in its lower-case
// form "host_to_ping", and "Host_to_ping" wins when both are present. When a
// key occurs twice, the last occurrence counts.
//
// load() reads it into a Params record; a missing key gives a false flag and
// the default below, a malformed value gives a false flag, the default and
// one warning naming the key and the text. Nothing in the file can make
// load() crash. A missing or unreadable file gives all defaults and one
// warning.
//
// The keys, their kinds, defaults and bounds are the table in configkeys.h
// (the record fields are named like the keys, T_end fills
// upgrade_time_stamp).
//
// Integers are 32-bit signed; anything beyond is malformed. An empty
// Host_to_ping or Log_level counts as missing (no warning).
//
// sync() writes only the keys whose flag or value changed since the last
// load() or sync(), and nothing when the file already holds them, so an edit
// made to the file in between is kept. It rewrites just those values,
// appends keys that became set, and keeps comments, blank lines, key order, unknown keys
// and the final-newline style. A key whose flag is false keeps its line; only
// a date stamp that is cleared (flag false) while the file still holds a
// valid date gets an empty value, so a cleared stamp stays cleared. The new
// text goes to a temporary file in the same directory, is flushed to disk
// and renamed over the old one, so a crash leaves either the old or the new
// file, never a torn or empty one.
class SettingsController
{
public:
    // Key under which the retry time stamp is kept (outside the
    // administrator's vocabulary).
    static const char *const RETRY_STAMP_KEY;
    // Form of the two date-time values in the file.
    static const char *const DATE_TIME_FORMAT;

    // Documented defaults for keys that are missing or malformed.
    static Params defaults();

    SettingsController();
    explicit SettingsController(const QString &filePath);

    // Warnings go here; without a logger they go to qWarning().
    void setLogger(const Logger *logger);

    QString load();
    Params params() const;
    void setParams(const Params &params);
    // False when the file could not be written (logged).
    bool sync();

    QString filePath() const;
    // Warnings of the last load(), for callers that want to show them.
    QStringList lastWarnings() const;

private:
    void warn(const QString &message);
    void logWarning(const QString &message) const;
    void logError(const QString &message) const;
    bool writeAtomically(const QByteArray &content);

    QString m_filePath;
    Params m_params;
    // The record as the file held it at the last load or sync.
    Params m_fileParams;
    const Logger *m_logger = nullptr;
    QStringList m_lastWarnings;
};
