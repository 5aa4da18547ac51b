// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "settingscontroller.h"

#include "atomicwrite.h"
#include "configkeys.h"
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
const char *const SettingsController::DATE_TIME_FORMAT = ConfigKeys::DATE_TIME_FORMAT;

namespace {

const char *const SETTINGS_PATH = "/etc/kirta-update-service/kirta-update-daemon.conf";
// Long junk is cut in warnings so that a broken file cannot flood the log.
const int MAX_QUOTED_TEXT = 80;

using ConfigKeys::Key;
using ConfigKeys::Kind;
using ConfigKeys::Value;

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
    QVector<KeyLine> found(ConfigKeys::count());
    KeyLine lowerHost;
    const QByteArray lowerHostName = KEY_HOST_TO_PING_LOWER.toLatin1();
    QVector<QByteArray> names;
    for (const Key *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key)
        names.append(QByteArray(key->name));

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
    for (int k = 0; k < ConfigKeys::count(); ++k) {
        if (QLatin1String(ConfigKeys::at(k).name) == KEY_HOST_TO_PING && found.at(k).index < 0)
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
    return ConfigKeys::defaults();
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
    m_params = defaults();

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
    for (int k = 0; k < ConfigKeys::count(); ++k) {
        const Key &key = ConfigKeys::at(k);
        const KeyLine &where = found.at(k);
        if (where.index < 0)
            continue;
        const QString text = valueText(lines.at(where.index), where.valueStart);
        Value parsed = ConfigKeys::parse(key, text);
        if (parsed.status == Value::Ok && key.kind == Kind::Count && parsed.number < key.floor) {
            // Held at the floor here, once, so that every user of the key
            // (a timer, the reboot lock) sees a value it can work with and
            // the manual's "at least" is what the daemon does.
            warn(QStringLiteral("%1 = %2%3 is below the minimum, using %4")
                         .arg(QLatin1String(key.name))
                         .arg(parsed.number)
                         .arg(key.unit == ConfigKeys::Unit::Minutes ? QStringLiteral(" minutes")
                                                                    : QString())
                         .arg(key.floor));
            parsed.number = key.floor;
        }
        if (parsed.status == Value::Ok) {
            ConfigKeys::store(key, parsed, &m_params);
        } else if (parsed.status == Value::Bad) {
            if (key.kind == Kind::Date)
                warn(QStringLiteral("Malformed value \"%1\" for key %2, leaving it unset")
                             .arg(shortened(text), QLatin1String(key.name)));
            else
                warn(QStringLiteral("Malformed value \"%1\" for key %2, using default %3")
                             .arg(shortened(text), QLatin1String(key.name),
                                  QLatin1String(key.defaultText)));
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
    for (int k = 0; k < ConfigKeys::count(); ++k) {
        const Key &key = ConfigKeys::at(k);
        // Only what changed since the file was read or written is written:
        // an edit made to the file meanwhile stays.
        if (ConfigKeys::sameField(key, m_params, m_fileParams))
            continue;
        const KeyLine &where = found.at(k);
        const bool set = ConfigKeys::isSet(key, m_params);
        QString value;
        if (where.index < 0) {
            if (set && ConfigKeys::render(key, m_params, &value)) {
                QByteArray line = QByteArray(key.name) + '=' + value.toUtf8();
                if (crlf)
                    line += '\r';
                lines.append(line);
            }
            continue;
        }
        const QByteArray &line = lines.at(where.index);
        const Value parsed = ConfigKeys::parse(key, valueText(line, where.valueStart));
        if (set) {
            if (ConfigKeys::sameValue(key, m_params, parsed)
                || !ConfigKeys::render(key, m_params, &value))
                continue;
        } else if (!(key.kind == Kind::Date && parsed.status == Value::Ok)) {
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
