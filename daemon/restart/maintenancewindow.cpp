// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "maintenancewindow.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
const char *const DAY_NAMES[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
const int ALL_DAYS = 0x7f;
// Far enough to reach the next opening of any window, and to find an opening
// of the day before that is still going on.
const int DAYS_BEHIND = 1;
const int DAYS_AHEAD = 8;

int dayNumber(const QString &name)
{
    for (int i = 0; i < 7; ++i) {
        if (name.compare(QLatin1String(DAY_NAMES[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

// "Mon", "Mon-Fri", "Mon,Wed,Sat-Sun", "daily"; 0 when unreadable.
int parseDays(const QString &text, QString *error)
{
    if (text.compare(QLatin1String("daily"), Qt::CaseInsensitive) == 0)
        return ALL_DAYS;
    int days = 0;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList range = part.split(QLatin1Char('-'));
        const int first = dayNumber(range.first().trimmed());
        const int last = range.size() == 2 ? dayNumber(range.last().trimmed()) : first;
        if (range.size() > 2 || !first || !last) {
            *error = QStringLiteral("unknown day \"%1\" (Mon to Sun, a range such as Mon-Fri, "
                                    "or daily)")
                             .arg(part.trimmed());
            return 0;
        }
        // A range may wrap over the week's end: Sat-Mon.
        for (int day = first;; day = day % 7 + 1) {
            days |= 1 << (day - 1);
            if (day == last)
                break;
        }
    }
    return days;
}

// "HH:MM"; "24:00" only where `allowMidnightEnd` (then invalid QTime).
bool parseTime(const QString &text, bool allowMidnightEnd, QTime *time)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (allowMidnightEnd && hour == 24 && minute == 0) {
        *time = QTime();
        return true;
    }
    *time = QTime(hour, minute);
    return time->isValid();
}
} // namespace

MaintenanceWindow MaintenanceWindow::parse(const QString &text)
{
    MaintenanceWindow window;
    if (text.trimmed().isEmpty()) {
        window.m_error = QStringLiteral("no window given");
        return window;
    }
    for (const QString &rawPart : text.split(QLatin1Char(';'))) {
        const QString part = rawPart.trimmed();
        if (part.isEmpty())
            continue;
        const auto fail = [&](const QString &why) {
            window.m_entries.clear();
            window.m_error = QStringLiteral("\"%1\": %2").arg(part, why);
            return window;
        };
        const int blank = part.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            return fail(QStringLiteral("expected days and a span, such as \"Sat 02:00-04:00\""));
        QString why;
        Entry entry;
        entry.days = parseDays(part.left(blank).remove(QLatin1Char(' ')), &why);
        if (!entry.days)
            return fail(why);
        const QStringList span = part.mid(blank + 1).split(QLatin1Char('-'));
        if (span.size() != 2 || !parseTime(span.first(), false, &entry.start)
            || !parseTime(span.last(), true, &entry.end))
            return fail(QStringLiteral("expected a span HH:MM-HH:MM, such as 02:00-04:00"));
        if (entry.end == entry.start)
            return fail(QStringLiteral("the span is empty"));
        window.m_entries.append(entry);
    }
    if (window.m_entries.isEmpty())
        window.m_error = QStringLiteral("no window given");
    return window;
}

QDateTime MaintenanceWindow::instant(const QDate &date, const QTime &time, const QTimeZone &zone)
{
    // The wall-clock reading taken as if it were UTC, then shifted by each
    // offset the zone has around it; an offset that the zone really has at
    // the shifted instant gives an instant at which the clock shows it.
    const QDateTime naive(date, time, Qt::UTC);
    const int before = zone.offsetFromUtc(naive.addDays(-1));
    const int after = zone.offsetFromUtc(naive.addDays(1));
    QDateTime first;
    for (int offset : {before, after}) {
        const QDateTime candidate = naive.addSecs(-offset);
        if (zone.offsetFromUtc(candidate) == offset && (!first.isValid() || candidate < first))
            first = candidate;
    }
    if (first.isValid())
        return first;
    // Skipped by a jump forward: the moment of the jump.
    const QTimeZone::OffsetData jump = zone.nextTransition(naive.addSecs(-after));
    return jump.atUtc.toUTC();
}

MaintenanceWindow::Span MaintenanceWindow::spanAt(const QDateTime &now, const QTimeZone &zone,
                                                  const QDateTime &notBefore) const
{
    Span best;
    if (!isValid())
        return best;
    const QDate today = now.toTimeZone(zone).date();
    for (const Entry &entry : m_entries) {
        for (int d = -DAYS_BEHIND; d <= DAYS_AHEAD; ++d) {
            const QDate day = today.addDays(d);
            if (!(entry.days & (1 << (day.dayOfWeek() - 1))))
                continue;
            Span span;
            span.open = instant(day, entry.start, zone);
            if (!entry.end.isValid())
                span.close = instant(day.addDays(1), QTime(0, 0), zone);
            else
                span.close
                        = instant(entry.end > entry.start ? day : day.addDays(1), entry.end, zone);
            // A span that lies wholly in the hour skipped when the clocks go
            // forward still opens at the jump, for its length.
            if (span.close <= span.open)
                span.close = span.open.addSecs(
                        entry.start.secsTo(entry.end.isValid() ? entry.end : QTime(23, 59, 59))
                        + (entry.end.isValid() ? 0 : 1));
            if (span.close <= now || span.close <= span.open)
                continue;
            if (notBefore.isValid() && span.open < notBefore)
                continue;
            if (!best.isValid() || span.open < best.open)
                best = span;
        }
    }
    return best;
}
