// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "params.h"

#include <QDateTime>
#include <QString>

#include <utility>

// Every key of the daemon's configuration file, defined once: its name, its
// kind of value, unit, default, bounds and the comment the shipped template
// gives it. The parameter store reads and writes the file by this table, the
// template and the key lists of the manual page and the reference are
// checked against it, and the fuzz target walks it.
namespace ConfigKeys {

enum class Kind {
    Count, // integer >= 0; a negative number is unreadable (default, warning)
    Integer, // any 32-bit integer
    Action, // Stop, Reset or Retry in any case; held as its number
    Bool, // true/false, 1/0, yes/no, on/off in any case
    NonEmptyText, // empty counts as missing
    Text,
    Date, // DATE_TIME_FORMAT; empty means unset
};

enum class Unit { None, Minutes, Hours, Days, Percent };

struct Key
{
    const char *name;
    Kind kind;
    Unit unit;
    // The default as the file writes it; "" for empty text or an unset date.
    const char *defaultText;
    // A readable count below this is raised to it when the file is read,
    // with a warning in the log; 0 when any count will do.
    int floor;
    // Kept by the daemon, not the administrator: last in the template.
    bool writtenByDaemon;
    // The template puts a blank line before the key's comment.
    bool blankBefore;
    // The template's comment, lines without "# "; "" when the key shares the
    // comment above it.
    const char *comment;
    // The record's field; exactly one is set, as the kind says.
    std::pair<bool, int> Params::*number;
    std::pair<bool, bool> Params::*flag;
    std::pair<bool, QString> Params::*text;
    std::pair<bool, QDateTime> Params::*date;
};

// In the order the file is read, warned about and appended to.
const Key *begin();
const Key *end();
int count();
const Key &at(int index);
// Null for a name that is no key.
const Key *find(const QString &name);

// The names of the fields, for code that needs a key by name.
QString nameOf(std::pair<bool, int> Params::*field);
QString nameOf(std::pair<bool, bool> Params::*field);
QString nameOf(std::pair<bool, QString> Params::*field);
QString nameOf(std::pair<bool, QDateTime> Params::*field);
// The floor of a number key, 0 for a field that is no key.
int floorOf(std::pair<bool, int> Params::*field);

// What one value text means for its key.
struct Value
{
    enum Status { Ok, Unset, Bad };
    Status status = Bad;
    int number = 0;
    bool flag = false;
    QString text;
    QDateTime date;
};

Value parse(const Key &key, const QString &text);
void store(const Key &key, const Value &value, Params *params);
bool isSet(const Key &key, const Params &params);
// Flag and value alike in both records.
bool sameField(const Key &key, const Params &a, const Params &b);
// The record's (set) value is what `value` already says.
bool sameValue(const Key &key, const Params &params, const Value &value);
// The value as the file writes it, quoted where needed; false when it has
// no written form (an action number without a word).
bool render(const Key &key, const Params &params, QString *text);

// Every key with its default, none of them set.
Params defaults();

// The configuration template as shipped: a header, then every key with its
// comment and default, the keys the daemon writes last.
QByteArray templateText();

// Form of the two date-time values in the file.
constexpr const char DATE_TIME_FORMAT[] = "hh:mm dd.MM.yyyy";

} // namespace ConfigKeys
