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
//   key                 default   accepted values
//   T_check             60        minutes, >= 0
//   T_download_min      10        minutes, >= 0
//   T_download_max      120       minutes, >= 0
//   T_retry             2         hours, >= 0
//   T_end_check         10        minutes, >= 0
//   T_delay             3         days, >= 0
//   Action_on_error     Stop (1)  Stop = 1, Reset = 2, Retry = 0; any case
//   Snapshot            false     true/false, 1/0, yes/no, on/off; any case
//   Always_new_update   false     as Snapshot
//   Free_space_policy   0         any integer
//   Use_sources_list_d  1         any integer
//   Host_to_ping        9.9.9.9   non-empty text (DEFAULT_HOST_TO_PING)
//   T_end               unset     DATE_TIME_FORMAT; empty = unset
//   Extra_repos         ""        any text, commas kept
//   Extra_repos_policy  0         any integer
//   Log_level           "info"    non-empty text, kept as written
//   Retry_time_stamp    unset     DATE_TIME_FORMAT; empty = unset
//   Metrics_file        ""        any text; empty = no metrics file
//   Reboot_lock         "none"    non-empty text (none, etcd, fleetlock)
//   Reboot_lock_servers ""        any text (URLs, comma-separated)
//   Reboot_lock_group   "default" non-empty text
//   Reboot_lock_id      ""        any text; empty = derived from the machine id
//   Reboot_lock_slots   1         >= 0 (the lock refuses 0)
//   Reboot_lock_user, Reboot_lock_password_file, Reboot_lock_ca_file
//                       ""        any text
//   Download_on_metered false     as Snapshot
//   Battery_min_percent 20        percent, >= 0 (read by the offline upgrade)
//   T_health_settle     10        minutes, >= 0
//   Health_rollback     false     as Snapshot
// (the record fields are named like the keys, T_end fills upgrade_time_stamp)
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
