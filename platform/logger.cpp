// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logger.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

// Bounds of the section that KIRTA_PLACE fills, made by the linker; null in
// a program without any place.
extern "C" {
extern const char *const __start_kirta_where[] __attribute__((weak));
extern const char *const __stop_kirta_where[] __attribute__((weak));
}

namespace {
QMutex &writeMutex()
{
    static QMutex mutex;
    return mutex;
}
} // namespace

Logger::Logger(const QString &filePath, Level level)
    : m_filePath(filePath)
    , m_level(level)
{ }

void Logger::setLevel(const QString &levelName)
{
    static const struct
    {
        const char *name;
        Level level;
    } names[] = {{"debug", Debug}, {"info", Info}, {"warning", Warning}, {"error", Error}};
    const QString wanted = levelName.trimmed().toLower();
    for (const auto &entry : names) {
        if (wanted == QLatin1String(entry.name)) {
            m_level = entry.level;
            return;
        }
    }
    warning(QStringLiteral("Unknown log level \"%1\", keeping %2")
                    .arg(levelName, Logger::levelName(m_level)));
}

void Logger::setLevel(Level level)
{
    m_level = level;
}

Logger::Level Logger::level() const
{
    return m_level;
}

QString Logger::filePath() const
{
    return m_filePath;
}

void Logger::debug(const QString &text) const
{
    write(Debug, QString(), text);
}

void Logger::debug(const QString &where, const QString &message) const
{
    write(Debug, where, message);
}

void Logger::debug(const QString &where, const QString &name, int value) const
{
    write(Debug, where, QStringLiteral("%1 = %2").arg(name).arg(value));
}

void Logger::info(const QString &message) const
{
    write(Info, QString(), message);
}

void Logger::warning(const QString &message) const
{
    write(Warning, QString(), message);
}

void Logger::error(const QString &message) const
{
    write(Error, QString(), message);
}

QString Logger::levelName(Level level)
{
    switch (level) {
    case Debug:
        return QStringLiteral("DEBUG");
    case Info:
        return QStringLiteral("INFO");
    case Warning:
        return QStringLiteral("WARNING");
    case Error:
        return QStringLiteral("ERROR");
    }
    return QString::number(int(level));
}

void Logger::write(Level level, const QString &where, const QString &message) const
{
    if (level < m_level)
        return;
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    line += QLatin1Char(' ') + levelName(level) + QLatin1Char(' ');
    if (!where.isEmpty())
        line += where + QStringLiteral(": ");
    line += message;
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toUtf8();

    QMutexLocker lock(&writeMutex());
    QFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size())
        return;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString Logger::placeText(const char *compilerText)
{
    QString text = QString::fromLatin1(compilerText);
    // clang spaces the declarator ("const QString &", "char *") and names
    // the unnamed namespace in words; g++ does neither.
    if (text.contains(QLatin1String(" &")) || text.contains(QLatin1String(" *"))
        || text.contains(QLatin1String("(anonymous namespace)"))) {
        text.replace(QLatin1String(" &"), QLatin1String("&"));
        text.replace(QLatin1String(" *"), QLatin1String("*"));
        text.replace(QLatin1String("(anonymous namespace)"), QLatin1String("{anonymous}"));
    }
    return text;
}

QStringList Logger::places()
{
    QStringList all;
    if (__start_kirta_where) {
        for (const char *const *place = __start_kirta_where; place < __stop_kirta_where; ++place)
            all << placeText(*place);
    }
    all.removeDuplicates();
    all.sort();
    return all;
}
