// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "configkeys.h"

#include <iterator>

namespace ConfigKeys {

namespace {

constexpr Key numberKey(const char *name, Kind kind, Unit unit, const char *defaultText, int floor,
                        bool writtenByDaemon, bool blankBefore, std::pair<bool, int> Params::*field,
                        const char *comment)
{
    return {name,        kind,    unit,  defaultText, floor,   writtenByDaemon,
            blankBefore, comment, field, nullptr,     nullptr, nullptr};
}

constexpr Key flagKey(const char *name, Kind kind, Unit unit, const char *defaultText, int floor,
                      bool writtenByDaemon, bool blankBefore, std::pair<bool, bool> Params::*field,
                      const char *comment)
{
    return {name,        kind,    unit,    defaultText, floor,   writtenByDaemon,
            blankBefore, comment, nullptr, field,       nullptr, nullptr};
}

constexpr Key textKey(const char *name, Kind kind, Unit unit, const char *defaultText, int floor,
                      bool writtenByDaemon, bool blankBefore,
                      std::pair<bool, QString> Params::*field, const char *comment)
{
    return {name,        kind,    unit,    defaultText, floor, writtenByDaemon,
            blankBefore, comment, nullptr, nullptr,     field, nullptr};
}

constexpr Key dateKey(const char *name, Kind kind, Unit unit, const char *defaultText, int floor,
                      bool writtenByDaemon, bool blankBefore,
                      std::pair<bool, QDateTime> Params::*field, const char *comment)
{
    return {name,        kind,    unit,    defaultText, floor,   writtenByDaemon,
            blankBefore, comment, nullptr, nullptr,     nullptr, field};
}

const char *const TEMPLATE_HEADER
        = "# SPDX-License-Identifier: GPL-2.0-or-later\n"
          "# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.\n"
          "# Configuration of the update daemon.\n"
          "#\n"
          "# Format: one \"Key=value\" per line; blanks around '=' are allowed and a value\n"
          "# may be wrapped in double quotes. Lines starting with '#' or ';' are\n"
          "# comments. Key names are case-sensitive. A key that is missing or holds a\n"
          "# value that cannot be read falls back to the default shown here (a value\n"
          "# that cannot be read is reported in the daemon's log).\n"
          "# The daemon re-reads this file whenever it changes.\n";

// The order is the file's reading order: warnings come in it, and keys that
// become set are appended in it. Changing it changes the log.
//
// name, kind, unit, default, floor, written by the daemon, blank line before
// the comment in the template, field, comment.
constexpr Key KEYS[] = {
        numberKey("T_check", Kind::Count, Unit::Minutes, "60", 1, false, true, &Params::t_check,
                  "Period of the update check, in minutes. Default 60."),
        numberKey("T_download_min", Kind::Count, Unit::Minutes, "10", 0, false, true,
                  &Params::t_download_min,
                  "The download starts after a random delay between these two bounds, in\n"
                  "minutes. Defaults 10 and 120."),
        numberKey("T_download_max", Kind::Count, Unit::Minutes, "120", 0, false, false,
                  &Params::t_download_max, ""),
        numberKey("T_retry", Kind::Count, Unit::Hours, "2", 0, false, true, &Params::t_retry,
                  "After a failure handled with Action_on_error=Retry, the next attempt comes\n"
                  "this many hours later. Default 2."),
        numberKey("T_end_check", Kind::Count, Unit::Minutes, "10", 1, false, true,
                  &Params::t_end_check,
                  "Period of the upgrade-deadline check and of the retry-time check, in\n"
                  "minutes. Default 10."),
        numberKey("T_delay", Kind::Count, Unit::Days, "3", 0, false, true, &Params::t_delay,
                  "Days from the end of a completed download to the upgrade deadline; once the\n"
                  "deadline has passed the upgrade is armed and can no longer be declined.\n"
                  "Default 3."),
        numberKey("Action_on_error", Kind::Action, Unit::None, "Stop", 0, false, true,
                  &Params::action_on_error,
                  "What to do after a failure: Stop, Reset or Retry (any case). Default Stop."),
        flagKey("Snapshot", Kind::Bool, Unit::None, "false", 0, false, true, &Params::snapshot,
                "Take a snapshot of the system before upgrading (true/false, yes/no, on/off,\n"
                "1/0). Default false."),
        flagKey("Always_new_update", Kind::Bool, Unit::None, "false", 0, false, true,
                &Params::always_new_update,
                "When the update check finds new packages, clean the package cache first so\n"
                "that the update is always fetched anew (true/false). Default false."),
        numberKey("Free_space_policy", Kind::Integer, Unit::None, "0", 0, false, true,
                  &Params::free_space_policy,
                  "Free-space check before the upgrade: 2 = no check; any other value = check\n"
                  "through the service program. 0 runs the upgrade imitation in its default\n"
                  "mode, any other value adds \"-S\" to it. Default 0."),
        numberKey("Use_sources_list_d", Kind::Integer, Unit::None, "1", 0, false, true,
                  &Params::use_sources_list_d,
                  "Whether the package tool reads the system's sources parts directory: 1 =\n"
                  "yes, 0 = no. Default 1."),
        textKey("Host_to_ping", Kind::NonEmptyText, Unit::None, "9.9.9.9", 0, false, true,
                &Params::host_to_ping,
                "Host or address probed to tell whether the network is up. Default 9.9.9.9."),
        dateKey("T_end", Kind::Date, Unit::None, "", 0, true, true, &Params::upgrade_time_stamp,
                "The daemon writes the next two values itself; leave them alone.\n"
                "T_end: the upgrade deadline, \"hh:mm dd.MM.yyyy\"; empty while none is set."),
        textKey("Extra_repos", Kind::Text, Unit::None, "", 0, false, true, &Params::extra_repos,
                "Extra repositories: comma-separated absolute paths of repository list\n"
                "files. Default: none."),
        numberKey("Extra_repos_policy", Kind::Integer, Unit::None, "0", 0, false, true,
                  &Params::extra_repos_policy,
                  "How the extra repositories combine with the system's own lists: 0 = the\n"
                  "extra repositories only; 1 = the main sources list and the extra\n"
                  "repositories, without the sources parts directory. Default 0."),
        textKey("Log_level", Kind::NonEmptyText, Unit::None, "info", 0, false, true,
                &Params::log_level,
                "Log level: debug, info, warning or error (any case). Default info."),
        dateKey("Retry_time_stamp", Kind::Date, Unit::None, "", 0, true, false,
                &Params::retry_time_stamp,
                "Retry_time_stamp: time of the next attempt after a Retry, same form; empty\n"
                "while none is set."),
        textKey("Metrics_file", Kind::Text, Unit::None, "", 0, false, true, &Params::metrics_file,
                "A Prometheus text file with the daemon's state, rewritten at each change,\n"
                "for node_exporter's textfile collector; Debian's collector reads\n"
                "/var/lib/prometheus/node-exporter/*.prom, so\n"
                "/var/lib/prometheus/node-exporter/kirta-update.prom suits it. Empty: no\n"
                "file. Default empty.\n"
                "The daemon writes it as root, mode 0644, and creates a missing directory\n"
                "(root's, mode 0755). It never follows a link at the file's name, but\n"
                "whoever owns the directory (or may write in it) can replace the figures:\n"
                "give the directory to root, or to an account you trust with them; the\n"
                "collector only reads."),
        textKey("Reboot_lock", Kind::NonEmptyText, Unit::None, "none", 0, false, true,
                &Params::reboot_lock,
                "A reboot lock shared by a fleet, so that machines of a group restart a few\n"
                "at a time: none (no lock), etcd (a semaphore record kept directly in an\n"
                "etcd cluster, the one FleetLock servers backed by etcd keep) or fleetlock\n"
                "(a FleetLock server). Default none."),
        textKey("Reboot_lock_servers", Kind::Text, Unit::None, "", 0, false, false,
                &Params::reboot_lock_servers,
                "etcd: the cluster's client URLs, comma-separated (the next is tried when\n"
                "one does not answer), such as https://10.0.0.1:2379,https://10.0.0.2:2379;\n"
                "fleetlock: the server's base URL. Default empty."),
        textKey("Reboot_lock_group", Kind::NonEmptyText, Unit::None, "default", 0, false, false,
                &Params::reboot_lock_group,
                "The group whose machines share the slots; letters, digits, '.' and '-'.\n"
                "Default default."),
        textKey("Reboot_lock_id", Kind::Text, Unit::None, "", 0, false, false,
                &Params::reboot_lock_id,
                "This machine's id in the lock. Empty, the default: derived from\n"
                "/etc/machine-id the way FleetLock clients derive theirs."),
        numberKey("Reboot_lock_slots", Kind::Count, Unit::None, "1", 1, false, false,
                  &Params::reboot_lock_slots,
                  "etcd: the number of slots of a group whose record does not exist yet; an\n"
                  "existing record keeps its own. Default 1."),
        textKey("Reboot_lock_user", Kind::Text, Unit::None, "", 0, false, false,
                &Params::reboot_lock_user,
                "etcd: a user to log in as, and a file (readable by root only) holding its\n"
                "password. Default empty: no login."),
        textKey("Reboot_lock_password_file", Kind::Text, Unit::None, "", 0, false, false,
                &Params::reboot_lock_password_file, ""),
        textKey("Reboot_lock_ca_file", Kind::Text, Unit::None, "", 0, false, false,
                &Params::reboot_lock_ca_file,
                "A PEM file of certificates trusted for https:// servers besides the\n"
                "system's. Default empty."),
        flagKey("Download_on_metered", Kind::Bool, Unit::None, "false", 0, false, true,
                &Params::download_on_metered,
                "Download on a connection that NetworkManager reports as metered (true or\n"
                "false). When false, downloads wait until the connection is no longer\n"
                "metered, the deadline T_end has passed, or forced mode is on. Without\n"
                "NetworkManager no connection counts as metered. Default false."),
        numberKey("Battery_min_percent", Kind::Count, Unit::Percent, "20", 0, false, true,
                  &Params::battery_min_percent,
                  "The offline upgrade at boot installs nothing while a battery discharges\n"
                  "below this percentage with no mains power online: it boots on normally\n"
                  "and the daemon arms the same upgrade again. 0: never wait for power.\n"
                  "Default 20."),
        numberKey("T_health_settle", Kind::Count, Unit::Minutes, "10", 0, false, true,
                  &Params::t_health_settle,
                  "After an upgrade boot the daemon checks the system's health once the boot\n"
                  "has settled; it waits for that at most this many minutes. Default 10."),
        flagKey("Health_rollback", Kind::Bool, Unit::None, "false", 0, false, true,
                &Params::health_rollback,
                "An unhealthy result after an upgrade boot rolls back to the snapshot\n"
                "taken before the upgrade (Snapshot=true) and restarts the machine (true),\n"
                "or is only reported (false). Default false."),
        textKey("Restart_policy", Kind::NonEmptyText, Unit::None, "never", 0, false, true,
                &Params::restart_policy,
                "Automatic restart into an armed update. never: nobody but a person\n"
                "restarts the machine (default). after-deadline: only once the update's\n"
                "deadline (T_end) has passed or forced mode is on, inside a maintenance\n"
                "window. in-window: in the first maintenance window after the update is\n"
                "armed. A value that cannot be read means never (reported in the log)."),
        textKey("Maintenance_windows", Kind::Text, Unit::None, "", 0, false, true,
                &Params::maintenance_windows,
                "When the machine may restart by itself, in local time: days (Mon to Sun,\n"
                "ranges such as Mon-Fri, or daily) and a span HH:MM-HH:MM; several windows\n"
                "separated by ';'. A span whose end is not after its start ends the next\n"
                "day. Example: Mon,Wed 02:00-04:00; Sat 23:00-01:00\n"
                "Needed by every policy but never; one that cannot be read means no\n"
                "automatic restart."),
        numberKey("Restart_announce", Kind::Count, Unit::Minutes, "15", 0, false, true,
                  &Params::restart_announce,
                  "Minutes of notice for people logged in (the login manager announces the\n"
                  "restart and refuses new logins in the last minutes); 0 restarts without\n"
                  "notice. Default 15."),
        numberKey("Restart_min_battery", Kind::Count, Unit::Percent, "30", 0, false, true,
                  &Params::restart_min_battery,
                  "On battery below this charge, in percent, the machine does not restart by\n"
                  "itself. Default 30."),
};

} // namespace

const Key *begin()
{
    return std::begin(KEYS);
}

const Key *end()
{
    return std::end(KEYS);
}

int count()
{
    return int(std::size(KEYS));
}

const Key &at(int index)
{
    return KEYS[index];
}

const Key *find(const QString &name)
{
    for (const Key &key : KEYS) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

namespace {
template<typename Field> QString nameBy(Field Params::*Key::*slot, Field Params::*field)
{
    for (const Key &key : KEYS) {
        if (key.*slot == field)
            return QLatin1String(key.name);
    }
    return QString();
}
} // namespace

QString nameOf(std::pair<bool, int> Params::*field)
{
    return nameBy(&Key::number, field);
}

int floorOf(std::pair<bool, int> Params::*field)
{
    for (const Key &key : KEYS) {
        if (key.number == field)
            return key.floor;
    }
    return 0;
}

QString nameOf(std::pair<bool, bool> Params::*field)
{
    return nameBy(&Key::flag, field);
}

QString nameOf(std::pair<bool, QString> Params::*field)
{
    return nameBy(&Key::text, field);
}

QString nameOf(std::pair<bool, QDateTime> Params::*field)
{
    return nameBy(&Key::date, field);
}

namespace {

// The action words with their numbers, as "Action_on_error" holds them.
const struct
{
    const char *word;
    int number;
} ACTIONS[] = {{"Stop", 1}, {"Reset", 2}, {"Retry", 0}};

bool parseBool(const QString &text, bool *value)
{
    static const char *const yes[] = {"true", "1", "yes", "on"};
    static const char *const no[] = {"false", "0", "no", "off"};
    for (const char *word : yes) {
        if (text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) {
            *value = true;
            return true;
        }
    }
    for (const char *word : no) {
        if (text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) {
            *value = false;
            return true;
        }
    }
    return false;
}

QString dateText(const QDateTime &date)
{
    return date.isValid() ? date.toString(QLatin1String(DATE_TIME_FORMAT)) : QString();
}

// Characters that would end or split the line become blanks; text with
// outer blanks or outer quotes is quoted so that it reads back the same.
QString quotedText(QString text)
{
    for (QChar &c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    const bool needsQuotes = text != text.trimmed()
                             || (text.size() >= 2 && text.startsWith(QLatin1Char('"'))
                                 && text.endsWith(QLatin1Char('"')));
    return needsQuotes ? QLatin1Char('"') + text + QLatin1Char('"') : text;
}

} // namespace

Value parse(const Key &key, const QString &text)
{
    Value result;
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer: {
        bool ok = false;
        const int number = text.toInt(&ok, 10);
        if (ok && (key.kind == Kind::Integer || number >= 0)) {
            result.status = Value::Ok;
            result.number = number;
        }
        break;
    }
    case Kind::Action:
        for (const auto &action : ACTIONS) {
            if (text.compare(QLatin1String(action.word), Qt::CaseInsensitive) == 0) {
                result.status = Value::Ok;
                result.number = action.number;
            }
        }
        break;
    case Kind::Bool:
        if (parseBool(text, &result.flag))
            result.status = Value::Ok;
        break;
    case Kind::NonEmptyText:
        result.status = text.isEmpty() ? Value::Unset : Value::Ok;
        result.text = text;
        break;
    case Kind::Text:
        result.status = Value::Ok;
        result.text = text;
        break;
    case Kind::Date:
        if (text.isEmpty()) {
            result.status = Value::Unset;
        } else {
            result.date = QDateTime::fromString(text, QLatin1String(DATE_TIME_FORMAT));
            if (result.date.isValid())
                result.status = Value::Ok;
        }
        break;
    }
    return result;
}

void store(const Key &key, const Value &value, Params *params)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        params->*key.number = {true, value.number};
        break;
    case Kind::Bool:
        params->*key.flag = {true, value.flag};
        break;
    case Kind::NonEmptyText:
    case Kind::Text:
        params->*key.text = {true, value.text};
        break;
    case Kind::Date:
        params->*key.date = {true, value.date};
        break;
    }
}

bool isSet(const Key &key, const Params &params)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return (params.*key.number).first;
    case Kind::Bool:
        return (params.*key.flag).first;
    case Kind::NonEmptyText:
    case Kind::Text:
        return (params.*key.text).first;
    case Kind::Date:
        return (params.*key.date).first;
    }
    return false;
}

bool sameField(const Key &key, const Params &a, const Params &b)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return a.*key.number == b.*key.number;
    case Kind::Bool:
        return a.*key.flag == b.*key.flag;
    case Kind::NonEmptyText:
    case Kind::Text:
        return a.*key.text == b.*key.text;
    case Kind::Date:
        return a.*key.date == b.*key.date;
    }
    return false;
}

bool sameValue(const Key &key, const Params &params, const Value &value)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return value.status == Value::Ok && value.number == (params.*key.number).second;
    case Kind::Bool:
        return value.status == Value::Ok && value.flag == (params.*key.flag).second;
    case Kind::NonEmptyText:
    case Kind::Text:
        return value.status != Value::Bad && value.text == (params.*key.text).second;
    case Kind::Date: {
        const QDateTime &date = (params.*key.date).second;
        if (!date.isValid())
            return value.status == Value::Unset;
        return value.status == Value::Ok && dateText(value.date) == dateText(date);
    }
    }
    return false;
}

bool render(const Key &key, const Params &params, QString *text)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
        *text = QString::number((params.*key.number).second);
        return true;
    case Kind::Action:
        for (const auto &action : ACTIONS) {
            if (action.number == (params.*key.number).second) {
                *text = QLatin1String(action.word);
                return true;
            }
        }
        return false;
    case Kind::Bool:
        *text = (params.*key.flag).second ? QStringLiteral("true") : QStringLiteral("false");
        return true;
    case Kind::NonEmptyText:
    case Kind::Text:
        *text = quotedText((params.*key.text).second);
        return true;
    case Kind::Date:
        *text = dateText((params.*key.date).second);
        return true;
    }
    return false;
}

Params defaults()
{
    Params params;
    for (const Key &key : KEYS) {
        const Value value = parse(key, QLatin1String(key.defaultText));
        store(key, value, &params);
        // A default is what a file without the key gives: present it unset.
        switch (key.kind) {
        case Kind::Count:
        case Kind::Integer:
        case Kind::Action:
            (params.*key.number).first = false;
            break;
        case Kind::Bool:
            (params.*key.flag).first = false;
            break;
        case Kind::NonEmptyText:
        case Kind::Text:
            (params.*key.text).first = false;
            break;
        case Kind::Date:
            params.*key.date = {false, QDateTime()};
            break;
        }
    }
    return params;
}

QByteArray templateText()
{
    QByteArray text(TEMPLATE_HEADER);
    for (const bool daemonsOwn : {false, true}) {
        for (const Key &key : KEYS) {
            if (key.writtenByDaemon != daemonsOwn)
                continue;
            if (key.blankBefore)
                text += '\n';
            const QByteArray comment(key.comment);
            if (!comment.isEmpty()) {
                for (const QByteArray &line : comment.split('\n'))
                    text += line.isEmpty() ? QByteArray("#\n") : "# " + line + '\n';
            }
            text += QByteArray(key.name) + '=' + key.defaultText + '\n';
        }
    }
    return text;
}

} // namespace ConfigKeys
