// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// Configuration store round trip: load a file, change one field, write it
// back, load it again. The changed field must read back as set (or as the
// store documents for values it cannot write), every other field as before,
// and every comment or non-key line must stay where it was.

#include "configkeys.h"
#include "fuzzsandbox.h"
#include "params.h"
#include "settingscontroller.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Every key of the file, as the store reads it.
using Field = ConfigKeys::Key;
using ConfigKeys::Kind;

QString g_path;

// Dates the daemon stamps: whole minutes, local time, present-day years.
QDateTime someDate(FuzzedDataProvider &in)
{
    const qint64 first = QDate(1970, 1, 1).toJulianDay();
    const qint64 last = QDate(2199, 12, 31).toJulianDay();
    const QDate day = QDate::fromJulianDay(in.ConsumeIntegralInRange<qint64>(first, last));
    const QTime time(in.ConsumeIntegralInRange(0, 23), in.ConsumeIntegralInRange(0, 59));
    return QDateTime(day, time, Qt::LocalTime);
}

// Line breaks and NULs cannot be written inside a value; they become blanks.
QString writable(QString text)
{
    for (QChar &c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return text;
}

// Changes `field` in `stored`; returns what the reload must give.
Params change(const Field &field, Params *stored, FuzzedDataProvider &in)
{
    Params expected = *stored;
    const bool clear = in.ConsumeIntegralInRange(0, 7) == 0;
    switch (field.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action: {
        auto &slot = stored->*field.number;
        if (clear) {
            slot.first = false; // the line stays, so the old value reads back
            break;
        }
        int value = 0;
        if (field.kind == Kind::Count)
            value = in.ConsumeIntegralInRange(0, INT_MAX);
        else if (field.kind == Kind::Integer)
            value = in.ConsumeIntegral<int>();
        else
            value = in.ConsumeIntegralInRange(-1, 4);
        slot = {true, value};
        // Action numbers without a word are not written.
        if (field.kind != Kind::Action || (value >= 0 && value <= 2))
            expected.*field.number = slot;
        // A count below its floor reads back held at the floor.
        if (field.kind == Kind::Count && value < field.floor)
            expected.*field.number = {true, field.floor};
        break;
    }
    case Kind::Bool: {
        auto &slot = stored->*field.flag;
        if (clear) {
            slot.first = false;
            break;
        }
        slot = {true, in.ConsumeBool()};
        expected.*field.flag = slot;
        break;
    }
    case Kind::NonEmptyText:
    case Kind::Text: {
        auto &slot = stored->*field.text;
        if (clear) {
            slot.first = false;
            break;
        }
        const std::string raw = in.ConsumeRandomLengthString(64);
        slot = {true, QString::fromUtf8(raw.data(), int(raw.size()))};
        const QString text = writable(slot.second);
        if (field.kind == Kind::NonEmptyText && text.isEmpty())
            expected.*field.text = SettingsController::defaults().*field.text;
        else
            expected.*field.text = {true, text};
        break;
    }
    case Kind::Date: {
        auto &slot = stored->*field.date;
        const QDateTime date = clear ? QDateTime() : someDate(in);
        // A cleared stamp (or a local time the clock skips) must read back
        // as unset.
        slot = {date.isValid(), date};
        expected.*field.date = date.isValid() ? slot : std::pair<bool, QDateTime>();
        break;
    }
    }
    return expected;
}

QString show(const Params &p, const Field &field)
{
    switch (field.kind) {
    case Kind::Count:
    case Kind::Integer:
    case Kind::Action:
        return QStringLiteral("%1 %2").arg((p.*field.number).first).arg((p.*field.number).second);
    case Kind::Bool:
        return QStringLiteral("%1 %2").arg((p.*field.flag).first).arg((p.*field.flag).second);
    case Kind::NonEmptyText:
    case Kind::Text:
        return QStringLiteral("%1 \"%2\"").arg((p.*field.text).first).arg((p.*field.text).second);
    case Kind::Date:
        return QStringLiteral("%1 %2")
                .arg((p.*field.date).first)
                .arg((p.*field.date).second.toString(Qt::ISODate));
    }
    return QString();
}

QList<QByteArray> linesOf(const QByteArray &content)
{
    if (content.isEmpty())
        return {};
    QList<QByteArray> lines = content.split('\n');
    if (content.endsWith('\n'))
        lines.removeLast();
    return lines;
}

// Lines that cannot hold a key: comments, group headers, lines without '='.
bool isKeyless(const QByteArray &line)
{
    const QByteArray text = line.trimmed();
    return text.startsWith('#') || text.startsWith(';') || text.startsWith('[')
           || !text.contains('=');
}

QByteArray readBack()
{
    QFile file(g_path);
    FuzzSandbox::check(file.open(QIODevice::ReadOnly), "the written file cannot be read");
    return file.readAll();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSandbox::silenceQtMessages();
    g_path = FuzzSandbox::root() + QStringLiteral("/kirta-update-daemon.conf");
    return 0;
}

// Every choice is taken from the end of the input, the file is what is left
// at its start, so a plain configuration file is a usable seed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const Field &changed = ConfigKeys::at(in.ConsumeIntegralInRange(0, ConfigKeys::count() - 1));
    const int choiceBytes = in.ConsumeIntegralInRange(0, 72);
    std::vector<uint8_t> choices;
    for (int i = 0; i < choiceBytes && in.remaining_bytes() > 0; ++i)
        choices.push_back(in.ConsumeIntegral<uint8_t>());
    const std::vector<uint8_t> fileBytes = in.ConsumeRemainingBytes<uint8_t>();
    const QByteArray before(reinterpret_cast<const char *>(fileBytes.data()),
                            int(fileBytes.size()));
    FuzzSandbox::writeFile(g_path, before);

    SettingsController store(g_path);
    store.load();
    const Params loaded = store.params();
    Params stored = loaded;
    FuzzedDataProvider choice(choices.data(), choices.size());
    const Params expected = change(changed, &stored, choice);
    store.setParams(stored);
    FuzzSandbox::check(store.sync(), "sync() failed");
    const QByteArray after = readBack();

    SettingsController again(g_path);
    again.load();
    const Params reloaded = again.params();
    for (const Field *key = ConfigKeys::begin(); key != ConfigKeys::end(); ++key) {
        const Field &field = *key;
        if (!ConfigKeys::sameField(field, reloaded, expected)) {
            std::fprintf(stderr, "changed %s; %s reads back as [%s], expected [%s]\n", changed.name,
                         field.name, qPrintable(show(reloaded, field)),
                         qPrintable(show(expected, field)));
            std::abort();
        }
    }
    FuzzSandbox::check(reloaded == expected, "Params::operator== disagrees with the fields");

    const QList<QByteArray> oldLines = linesOf(before);
    const QList<QByteArray> newLines = linesOf(after);
    FuzzSandbox::check(newLines.size() >= oldLines.size(), "sync() dropped lines");
    for (int i = 0; i < oldLines.size(); ++i) {
        if (isKeyless(oldLines.at(i)) && oldLines.at(i) != newLines.at(i)) {
            std::fprintf(stderr, "line %d \"%s\" became \"%s\"\n", i + 1,
                         oldLines.at(i).constData(), newLines.at(i).constData());
            std::abort();
        }
    }

    // The file now holds the record, so writing it again changes nothing.
    FuzzSandbox::check(store.sync(), "second sync() failed");
    FuzzSandbox::check(readBack() == after, "a second sync() of the same record changed the file");
    return 0;
}
