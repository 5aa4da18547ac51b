// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "codes.h"
#include "stepoutcome.h"

#include <QObject>
#include <QString>

class Logger;
class QTimer;

// The major-release upgrade tool as the daemon sees it: whether its package
// is installed (asked every minute) and, while it is, what its report says
// (read every 10 s). Standing aside for the tool and resuming after it move
// the update's progress, so they are the facade's to decide; this part only
// tells it when to look and what it found.
//
// Its debug lines go under the caller's place: administrators' filters know
// them there.
class MajorRelease : public QObject
{
    Q_OBJECT

public:
    // A package appears or goes seldom; a minute's lag is of no harm.
    static constexpr int INSTALLED_CHECK_MSEC = 60000;
    // The tool may clean the cache under a download: the daemon must step
    // aside soon after it reports.
    static constexpr int REPORT_CHECK_MSEC = 10000;

    // `logger` must outlive the part. The package and the report are the
    // tool's (MAJOR_UPGRADE_PACKAGE, MAJOR_REPORT_PATH).
    explicit MajorRelease(const Logger &logger, QObject *parent = nullptr);

    // Asks every minute from now on (installationCheckDue); the first
    // answer is the caller's to ask for.
    void watchInstallation();
    bool isWatchingInstallation() const;
    // Asks the package database whether the tool is installed; while it is,
    // the report is read every 10 s (reportCheckDue), otherwise that stops.
    bool followInstallation(const QString &where);
    bool isWatchingReport() const;

    // Whether the tool has left a report at all.
    bool hasReport() const;
    // What the report says. Unreadable for no report (an empty failure:
    // the tool has not written one) and for a report that gives no mode
    // (failure "path: reason").
    StepOutcome<MajorReportMode> readReport(const QString &where) const;

Q_SIGNALS:
    void installationCheckDue();
    void reportCheckDue();

private:
    const Logger &m_logger;
    QTimer *m_installedCheck = nullptr;
    // Made the first time the tool is seen installed.
    QTimer *m_reportCheck = nullptr;
};
