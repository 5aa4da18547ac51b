// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "settingscontroller.h"

#include "atomicwrite.h"
#include "logger.h"
#include "settingskeys.h"
#include "sysroot.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>

#include <utility>

const char *const SettingsController::RETRY_STAMP_KEY = "Retry_time_stamp";
const char *const SettingsController::DATE_TIME_FORMAT = "hh:mm dd.MM.yyyy";

namespace {

const char *const SETTINGS_PATH = "/etc/kirta-update-service/kirta-update-daemon.conf";
// Long junk is cut in warnings so that a broken file cannot flood the log.
const int MAX_QUOTED_TEXT = 80;

enum class Kind {
    Count, // integer >= 0 (minutes, hours, days)
    Integer,
    Action,
    Bool,
    NonEmptyText, // empty means missing
    Text,
    Date, // empty means unset
};

struct KeyInfo
{
    QString name;
    Kind kind;
    std::pair<bool, int> Params::*intField;
    std::pair<bool, bool> Params::*boolField;
    std::pair<bool, QString> Params::*textField;
    std::pair<bool, QDateTime> Params::*dateField;
};

KeyInfo intKey(const QString &name, Kind kind, std::pair<bool, int> Params::*field)
{
    return {name, kind, field, nullptr, nullptr, nullptr};
}

KeyInfo boolKey(const QString &name, std::pair<bool, bool> Params::*field)
{
    return {name, Kind::Bool, nullptr, field, nullptr, nullptr};
}

KeyInfo textKey(const QString &name, Kind kind, std::pair<bool, QString> Params::*field)
{
    return {name, kind, nullptr, nullptr, field, nullptr};
}

KeyInfo dateKey(const QString &name, std::pair<bool, QDateTime> Params::*field)
{
    return {name, Kind::Date, nullptr, nullptr, nullptr, field};
}

// Built on first use: the key names are globals of another translation unit.
const QVector<KeyInfo> &keys()
{
    static const QVector<KeyInfo> table {
            intKey(KEY_T_CHECK, Kind::Count, &Params::t_check),
            intKey(KEY_T_DOWNLOAD_MIN, Kind::Count, &Params::t_download_min),
            intKey(KEY_T_DOWNLOAD_MAX, Kind::Count, &Params::t_download_max),
            intKey(KEY_T_RETRY, Kind::Count, &Params::t_retry),
            intKey(KEY_T_END_CHECK, Kind::Count, &Params::t_end_check),
            intKey(KEY_T_DELAY, Kind::Count, &Params::t_delay),
            intKey(KEY_ACTION_ON_ERROR, Kind::Action, &Params::action_on_error),
            boolKey(KEY_SNAPSHOT, &Params::snapshot),
            boolKey(KEY_ALWAYS_NEW_UPDATE, &Params::always_new_update),
            intKey(KEY_FREE_SPACE_POLICY, Kind::Integer, &Params::free_space_policy),
            intKey(KEY_USE_SOURCES_LIST_D, Kind::Integer, &Params::use_sources_list_d),
            textKey(KEY_HOST_TO_PING, Kind::NonEmptyText, &Params::host_to_ping),
            dateKey(KEY_T_END, &Params::upgrade_time_stamp),
            textKey(KEY_EXTRA_REPOS, Kind::Text, &Params::extra_repos),
            intKey(KEY_EXTRA_REPOS_POLICY, Kind::Integer, &Params::extra_repos_policy),
            textKey(KEY_LOG_LEVEL, Kind::NonEmptyText, &Params::log_level),
            dateKey(QLatin1String(SettingsController::RETRY_STAMP_KEY), &Params::retry_time_stamp),
            textKey(KEY_METRICS_FILE, Kind::Text, &Params::metrics_file),
            textKey(KEY_REBOOT_LOCK, Kind::NonEmptyText, &Params::reboot_lock),
            textKey(KEY_REBOOT_LOCK_SERVERS, Kind::Text, &Params::reboot_lock_servers),
            textKey(KEY_REBOOT_LOCK_GROUP, Kind::NonEmptyText, &Params::reboot_lock_group),
            textKey(KEY_REBOOT_LOCK_ID, Kind::Text, &Params::reboot_lock_id),
            intKey(KEY_REBOOT_LOCK_SLOTS, Kind::Count, &Params::reboot_lock_slots),
            textKey(KEY_REBOOT_LOCK_USER, Kind::Text, &Params::reboot_lock_user),
            textKey(KEY_REBOOT_LOCK_PASSWORD_FILE, Kind::Text, &Params::reboot_lock_password_file),
            textKey(KEY_REBOOT_LOCK_CA_FILE, Kind::Text, &Params::reboot_lock_ca_file),
            boolKey(KEY_DOWNLOAD_ON_METERED, &Params::download_on_metered),
            intKey(KEY_BATTERY_MIN_PERCENT, Kind::Count, &Params::battery_min_percent),
            intKey(KEY_T_HEALTH_SETTLE, Kind::Count, &Params::t_health_settle),
            boolKey(KEY_HEALTH_ROLLBACK, &Params::health_rollback),
            textKey(KEY_RESTART_POLICY, Kind::NonEmptyText, &Params::restart_policy),
            textKey(KEY_MAINTENANCE_WINDOWS, Kind::Text, &Params::maintenance_windows),
            intKey(KEY_RESTART_ANNOUNCE, Kind::Count, &Params::restart_announce),
            intKey(KEY_RESTART_MIN_BATTERY, Kind::Count, &Params::restart_min_battery),
    };
    return table;
}

QString dateFormat()
{
    return QLatin1String(SettingsController::DATE_TIME_FORMAT);
}

// What one value text means for its key.
struct Parsed
{
    enum Status { Ok, Unset, Bad };
    Status status = Bad;
    int number = 0;
    bool flag = false;
    QString text;
    QDateTime date;
};

bool parseActionWord(const QString &word, int *value)
{
    const struct
    {
        const QString &name;
        int value;
    } words[] = {{ACTION_STOP, 1}, {ACTION_RESET, 2}, {ACTION_RETRY, 0}};
    for (const auto &entry : words) {
        if (word.compare(entry.name, Qt::CaseInsensitive) == 0) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

// False for numbers that have no word.
bool actionWord(int value, QString *word)
{
    switch (value) {
    case 0:
        *word = ACTION_RETRY;
        return true;
    case 1:
        *word = ACTION_STOP;
        return true;
    case 2:
        *word = ACTION_RESET;
        return true;
    default:
        return false;
    }
}

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

Parsed parseValue(const KeyInfo &key, const QString &text)
{
    Parsed result;
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer: {
        bool ok = false;
        const int number = text.toInt(&ok, 10);
        if (ok && (key.kind == Kind::Integer || number >= 0)) {
            result.status = Parsed::Ok;
            result.number = number;
        }
        break;
    }
    case Kind::Action:
        if (parseActionWord(text, &result.number))
            result.status = Parsed::Ok;
        break;
    case Kind::Bool:
        if (parseBool(text, &result.flag))
            result.status = Parsed::Ok;
        break;
    case Kind::NonEmptyText:
        result.status = text.isEmpty() ? Parsed::Unset : Parsed::Ok;
        result.text = text;
        break;
    case Kind::Text:
        result.status = Parsed::Ok;
        result.text = text;
        break;
    case Kind::Date:
        if (text.isEmpty()) {
            result.status = Parsed::Unset;
        } else {
            result.date = QDateTime::fromString(text, dateFormat());
            if (result.date.isValid())
                result.status = Parsed::Ok;
        }
        break;
    }
    return result;
}

QString defaultText(const KeyInfo &key, const Params &defaults)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
        return QString::number((defaults.*key.intField).second);
    case Kind::Action: {
        QString word;
        actionWord((defaults.*key.intField).second, &word);
        return word;
    }
    case Kind::Bool:
        return (defaults.*key.boolField).second ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::NonEmptyText:
    case Kind::Text:
        return (defaults.*key.textField).second;
    case Kind::Date:
        break;
    }
    return QString();
}

void store(const KeyInfo &key, const Parsed &parsed, Params *params)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        params->*key.intField = {true, parsed.number};
        break;
    case Kind::Bool:
        params->*key.boolField = {true, parsed.flag};
        break;
    case Kind::NonEmptyText:
    case Kind::Text:
        params->*key.textField = {true, parsed.text};
        break;
    case Kind::Date:
        params->*key.dateField = {true, parsed.date};
        break;
    }
}

bool isSet(const KeyInfo &key, const Params &params)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return (params.*key.intField).first;
    case Kind::Bool:
        return (params.*key.boolField).first;
    case Kind::NonEmptyText:
    case Kind::Text:
        return (params.*key.textField).first;
    case Kind::Date:
        return (params.*key.dateField).first;
    }
    return false;
}

QString dateText(const QDateTime &date)
{
    return date.isValid() ? date.toString(dateFormat()) : QString();
}

// True when the record's (set) value is what `parsed` already says.
bool sameValue(const KeyInfo &key, const Params &params, const Parsed &parsed)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return parsed.status == Parsed::Ok && parsed.number == (params.*key.intField).second;
    case Kind::Bool:
        return parsed.status == Parsed::Ok && parsed.flag == (params.*key.boolField).second;
    case Kind::NonEmptyText:
    case Kind::Text:
        return parsed.status != Parsed::Bad && parsed.text == (params.*key.textField).second;
    case Kind::Date: {
        const QDateTime &date = (params.*key.dateField).second;
        if (!date.isValid())
            return parsed.status == Parsed::Unset;
        return parsed.status == Parsed::Ok && dateText(parsed.date) == dateText(date);
    }
    }
    return false;
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

// The value text of the record's field; false when it has no written form.
// Flag and value of `key` alike in both records.
bool sameField(const KeyInfo &key, const Params &a, const Params &b)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return a.*key.intField == b.*key.intField;
    case Kind::Bool:
        return a.*key.boolField == b.*key.boolField;
    case Kind::NonEmptyText:
    case Kind::Text:
        return a.*key.textField == b.*key.textField;
    case Kind::Date:
        return a.*key.dateField == b.*key.dateField;
    }
    return false;
}

bool renderValue(const KeyInfo &key, const Params &params, QString *text)
{
    switch (key.kind) {
    case Kind::Count:
    case Kind::Integer:
        *text = QString::number((params.*key.intField).second);
        return true;
    case Kind::Action:
        return actionWord((params.*key.intField).second, text);
    case Kind::Bool:
        *text = (params.*key.boolField).second ? QStringLiteral("true") : QStringLiteral("false");
        return true;
    case Kind::NonEmptyText:
    case Kind::Text:
        *text = quotedText((params.*key.textField).second);
        return true;
    case Kind::Date:
        *text = dateText((params.*key.dateField).second);
        return true;
    }
    return false;
}

QString shortened(const QString &text)
{
    QString result = text.size() > MAX_QUOTED_TEXT
                             ? text.left(MAX_QUOTED_TEXT) + QStringLiteral("...")
                             : text;
    for (QChar &c : result) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return result;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// One "Key=value" line of the file, as bytes.
struct KeyLine
{
    int index = -1; // line number, -1 when the key is absent
    int valueStart = 0; // offset of the value text (after '=' and blanks)
};

// Splits `content` into lines; `finalNewline` tells whether it ended with one.
QList<QByteArray> splitLines(const QByteArray &content, bool *finalNewline)
{
    if (content.isEmpty()) {
        *finalNewline = true;
        return {};
    }
    QList<QByteArray> lines = content.split('\n');
    *finalNewline = content.endsWith('\n');
    if (*finalNewline)
        lines.removeLast();
    return lines;
}

// Finds the key of a line; empty for comments, headers and other lines.
QByteArray lineKey(const QByteArray &line, int *valueStart)
{
    int begin = 0;
    while (begin < line.size() && isBlank(line.at(begin)))
        ++begin;
    if (begin == line.size())
        return QByteArray();
    const char first = line.at(begin);
    if (first == '#' || first == ';' || first == '[')
        return QByteArray();
    const int equals = line.indexOf('=', begin);
    if (equals < 0)
        return QByteArray();
    int end = equals;
    while (end > begin && isBlank(line.at(end - 1)))
        --end;
    int value = equals + 1;
    while (value < line.size() && isBlank(line.at(value)))
        ++value;
    *valueStart = value;
    return line.mid(begin, end - begin);
}

QString valueText(const QByteArray &line, int valueStart)
{
    const QByteArray raw = line.mid(valueStart);
    QString text = QString::fromUtf8(raw.constData(), raw.size()).trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

// Where each known key sits in `lines` (last occurrence wins).
QVector<KeyLine> locateKeys(const QList<QByteArray> &lines)
{
    const QVector<KeyInfo> &table = keys();
    QVector<KeyLine> found(table.size());
    KeyLine lowerHost;
    const QByteArray lowerHostName = KEY_HOST_TO_PING_LOWER.toLatin1();
    QVector<QByteArray> names;
    for (const KeyInfo &key : table)
        names.append(key.name.toLatin1());

    for (int i = 0; i < lines.size(); ++i) {
        int valueStart = 0;
        const QByteArray key = lineKey(lines.at(i), &valueStart);
        if (key.isEmpty())
            continue;
        if (key == lowerHostName) {
            lowerHost = {i, valueStart};
            continue;
        }
        const int k = names.indexOf(key);
        if (k >= 0)
            found[k] = {i, valueStart};
    }
    for (int k = 0; k < table.size(); ++k) {
        if (table.at(k).name == KEY_HOST_TO_PING && found.at(k).index < 0)
            found[k] = lowerHost;
    }
    return found;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readFile(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.exists())
        return ReadResult::Missing;
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return ReadResult::Failed;
    *content = file.readAll();
    return file.error() == QFileDevice::NoError ? ReadResult::Ok : ReadResult::Failed;
}

} // namespace

Params SettingsController::defaults()
{
    Params p;
    p.t_check = {false, 60};
    p.t_download_min = {false, 10};
    p.t_download_max = {false, 120};
    p.t_retry = {false, 2};
    p.t_end_check = {false, 10};
    p.t_delay = {false, 3};
    p.action_on_error = {false, 1};
    p.snapshot = {false, false};
    p.always_new_update = {false, false};
    p.free_space_policy = {false, 0};
    p.use_sources_list_d = {false, 1};
    p.host_to_ping = {false, DEFAULT_HOST_TO_PING};
    p.upgrade_time_stamp = {false, QDateTime()};
    p.extra_repos = {false, QString()};
    p.extra_repos_policy = {false, 0};
    p.log_level = {false, QStringLiteral("info")};
    p.retry_time_stamp = {false, QDateTime()};
    p.metrics_file = {false, QString()};
    p.reboot_lock = {false, QStringLiteral("none")};
    p.reboot_lock_servers = {false, QString()};
    p.reboot_lock_group = {false, QStringLiteral("default")};
    p.reboot_lock_id = {false, QString()};
    p.reboot_lock_slots = {false, 1};
    p.reboot_lock_user = {false, QString()};
    p.reboot_lock_password_file = {false, QString()};
    p.reboot_lock_ca_file = {false, QString()};
    p.download_on_metered = {false, false};
    p.battery_min_percent = {false, 20};
    p.t_health_settle = {false, 10};
    p.health_rollback = {false, false};
    p.restart_policy = {false, QStringLiteral("never")};
    p.maintenance_windows = {false, QString()};
    p.restart_announce = {false, 15};
    p.restart_min_battery = {false, 30};
    return p;
}

SettingsController::SettingsController()
    : SettingsController(Sysroot::path(QLatin1String(SETTINGS_PATH)))
{ }

SettingsController::SettingsController(const QString &filePath)
    : m_filePath(filePath)
    , m_params(defaults())
{ }

void SettingsController::setLogger(const Logger *logger)
{
    m_logger = logger;
}

QString SettingsController::load()
{
    m_lastWarnings.clear();
    const Params fallback = defaults();
    m_params = fallback;

    m_fileParams = m_params;

    QByteArray content;
    if (readFile(m_filePath, &content) != ReadResult::Ok) {
        warn(QStringLiteral("Settings file %1 is missing or unreadable, using defaults")
                     .arg(m_filePath));
        return m_filePath;
    }

    bool finalNewline = false;
    const QList<QByteArray> lines = splitLines(content, &finalNewline);
    const QVector<KeyLine> found = locateKeys(lines);
    const QVector<KeyInfo> &table = keys();
    for (int k = 0; k < table.size(); ++k) {
        const KeyInfo &key = table.at(k);
        const KeyLine &where = found.at(k);
        if (where.index < 0)
            continue;
        const QString text = valueText(lines.at(where.index), where.valueStart);
        const Parsed parsed = parseValue(key, text);
        if (parsed.status == Parsed::Ok) {
            store(key, parsed, &m_params);
        } else if (parsed.status == Parsed::Bad) {
            if (key.kind == Kind::Date)
                warn(QStringLiteral("Malformed value \"%1\" for key %2, leaving it unset")
                             .arg(shortened(text), key.name));
            else
                warn(QStringLiteral("Malformed value \"%1\" for key %2, using default %3")
                             .arg(shortened(text), key.name, defaultText(key, fallback)));
        }
    }
    m_fileParams = m_params;
    return m_filePath;
}

Params SettingsController::params() const
{
    return m_params;
}

void SettingsController::setParams(const Params &params)
{
    m_params = params;
    // The file holds the stamps to the minute: what is read back before the
    // next load must be the same value, or clients see one stamp change twice.
    for (QDateTime *stamp :
         {&m_params.upgrade_time_stamp.second, &m_params.retry_time_stamp.second}) {
        if (stamp->isValid())
            stamp->setTime(QTime(stamp->time().hour(), stamp->time().minute()));
    }
}

bool SettingsController::sync()
{
    QByteArray current;
    const ReadResult read = readFile(m_filePath, &current);
    if (read == ReadResult::Failed) {
        logError(QStringLiteral("Cannot read settings file %1, not writing it").arg(m_filePath));
        return false;
    }
    if (read == ReadResult::Missing && !QFileInfo(QFileInfo(m_filePath).absolutePath()).isDir()) {
        logWarning(QStringLiteral("Directory of settings file %1 does not exist, not writing it")
                           .arg(m_filePath));
        return false;
    }

    bool finalNewline = true;
    QList<QByteArray> lines = splitLines(current, &finalNewline);
    const bool crlf = !lines.isEmpty() && lines.first().endsWith('\r');
    const QVector<KeyLine> found = locateKeys(lines);
    const QVector<KeyInfo> &table = keys();

    for (int k = 0; k < table.size(); ++k) {
        const KeyInfo &key = table.at(k);
        // Only what changed since the file was read or written is written:
        // an edit made to the file meanwhile stays.
        if (sameField(key, m_params, m_fileParams))
            continue;
        const KeyLine &where = found.at(k);
        const bool set = isSet(key, m_params);
        QString value;
        if (where.index < 0) {
            if (set && renderValue(key, m_params, &value)) {
                QByteArray line = key.name.toUtf8() + '=' + value.toUtf8();
                if (crlf)
                    line += '\r';
                lines.append(line);
            }
            continue;
        }
        const QByteArray &line = lines.at(where.index);
        const Parsed parsed = parseValue(key, valueText(line, where.valueStart));
        if (set) {
            if (sameValue(key, m_params, parsed) || !renderValue(key, m_params, &value))
                continue;
        } else if (!(key.kind == Kind::Date && parsed.status == Parsed::Ok)) {
            continue; // a cleared stamp must not read back as set
        }
        QByteArray replaced = line.left(where.valueStart) + value.toUtf8();
        if (line.endsWith('\r'))
            replaced += '\r';
        lines[where.index] = replaced;
    }

    QByteArray content;
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            content += '\n';
        content += lines.at(i);
    }
    if (finalNewline && !lines.isEmpty())
        content += '\n';

    if (read == ReadResult::Ok && content == current) {
        m_fileParams = m_params;
        return true;
    }
    if (!writeAtomically(content))
        return false;
    m_fileParams = m_params;
    return true;
}

QString SettingsController::filePath() const
{
    return m_filePath;
}

QStringList SettingsController::lastWarnings() const
{
    return m_lastWarnings;
}

void SettingsController::warn(const QString &message)
{
    m_lastWarnings.append(message);
    logWarning(message);
}

void SettingsController::logWarning(const QString &message) const
{
    if (m_logger)
        m_logger->warning(message);
    else
        qWarning().noquote() << message;
}

void SettingsController::logError(const QString &message) const
{
    if (m_logger)
        m_logger->error(message);
    else
        qCritical().noquote() << message;
}

bool SettingsController::writeAtomically(const QByteArray &content)
{
    QString error;
    if (writeFileAtomically(m_filePath, content, &error))
        return true;
    logError(QStringLiteral("Cannot write settings file %1: %2").arg(m_filePath, error));
    return false;
}
