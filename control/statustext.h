// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "publishedstatus.h"

#include <QCoreApplication>
#include <QStringList>

// The daemon's status in words, for people: `status`, `watch` and the
// explanations of the daemon's numeric answers.
class StatusText
{
    Q_DECLARE_TR_FUNCTIONS(StatusText)

public:
    // The lines of `status`, times relative to `now` (UNIX seconds).
    static QStringList statusLines(const PublishedStatus &status, qint64 now);

    // One line: what happens next in this state.
    static QString nextStep(const PublishedStatus &status, qint64 now);
    // The automatic restart: when, and what it waits for.
    static QString restartWords(const PublishedStatus &status, qint64 now);

    // "ready (downloaded, not armed)".
    static QString stateWords(const QString &stateName);
    static QString errorWords(int error);
    // The health check after the last upgrade boot, with its reasons.
    static QString healthWords(const PublishedStatus &status);
    // The fleet's reboot lock slot this machine holds: since when, and why
    // it is kept.
    static QString rebootLockWords(const PublishedStatus &status, qint64 now);

    // Local time with its zone, "2026-12-10 14:30 CET"; `unset` when 0.
    static QString localTime(qint64 seconds, const QString &unset);
    // "in 2 days", "5 minutes ago", "now".
    static QString relativeTime(qint64 seconds, qint64 now);

    // One property's value as `watch` shows it.
    static QString propertyValue(const QString &property, const PublishedStatus &status);
    // The label of `status` for a property, "Last check".
    static QString propertyLabel(const QString &property);

    static QString armWords(int answer);
    static bool armDone(int answer);
    static QString disarmWords(int answer);
    static bool disarmDone(int answer);

private:
    static QString nextStepText(const PublishedStatus &status, qint64 now);
};
