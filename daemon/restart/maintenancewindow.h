// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>
#include <QVector>

// The times at which the machine may restart by itself: one or more spans of
// local time on chosen days of the week, written as
//   "Mon,Wed 02:00-04:00; Sat 23:00-01:00; Mon-Fri 12:00-12:30; daily 03:00-04:00"
// A span whose end is not after its start runs past midnight into the next
// day. Pure calculation: the zone and the moment are always given.
class MaintenanceWindow
{
public:
    // One opening of a window, as instants (UTC).
    struct Span
    {
        QDateTime open;
        QDateTime close;
        bool isValid() const { return open.isValid() && close.isValid(); }
        bool contains(const QDateTime &moment) const
        {
            return isValid() && open <= moment && moment < close;
        }
    };

    MaintenanceWindow() = default;

    // An empty text, or one that cannot be read, gives a window that is not
    // valid: it never opens, and errorString() says why.
    static MaintenanceWindow parse(const QString &text);

    bool isValid() const { return m_error.isEmpty() && !m_entries.isEmpty(); }
    QString errorString() const { return m_error; }

    // The opening that holds `now`, or else the next one to come; invalid
    // when the window is not valid. With `notBefore` set, openings that
    // begin before it are skipped (a restart postponed to the next window).
    // Wall-clock times that do not exist on a day (the hour skipped when
    // clocks go forward) stand for the moment the clocks jumped; times that
    // exist twice (the hour repeated when clocks go back) are taken at
    // their first occurrence, so a window opens once.
    Span spanAt(const QDateTime &now, const QTimeZone &zone,
                const QDateTime &notBefore = QDateTime()) const;

    // The instant at which the wall clock of `zone` first shows `time` on
    // `date`, or the end of the gap when it never does.
    static QDateTime instant(const QDate &date, const QTime &time, const QTimeZone &zone);

private:
    struct Entry
    {
        int days = 0; // bit (dayOfWeek - 1): Monday is bit 0
        QTime start;
        QTime end; // invalid for "24:00"
    };
    QVector<Entry> m_entries;
    QString m_error;
};
