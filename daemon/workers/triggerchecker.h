// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "script.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

class Logger;
class QProcess;

// Hands the snapshot left by a minor upgrade over to the snapshot manager's
// automatization: every few minutes it checks whether automatization is
// already on, whether the first LVM snapshot is full and whether the time in
// the trigger file has come; on the first yes it switches automatization on
// (unless it already is), deletes the trigger file and stops for good.
class TriggerChecker : public QObject
{
    Q_OBJECT
    friend class TestTriggerChecker;

public:
    static constexpr int DEFAULT_INTERVAL_MS = 300000;
    static constexpr int DEFAULT_MANAGER_TIMEOUT_MS = 30000;

    // `program` is the stage program that answers the questions; `logger` is
    // not owned and must outlive the checker. Starts nothing.
    TriggerChecker(const QString &program, Logger *logger, QObject *parent = nullptr);
    ~TriggerChecker() override;

    // Starts the periodic check when the snapshot manager is installed and
    // the trigger file exists; the first check comes one interval later.
    void startTriggerCheck();
    void stopTriggerCheck();
    void removeTriggerFile();
    void enableAutomatization();
    bool isTriggerTimePassed();

    bool isChecking() const;
    // Period of the check; a running check restarts with it.
    void setInterval(int ms);
    int interval() const;
    // How long a check waits for the snapshot manager before leaving it to
    // finish in the background; negative waits without limit.
    void setManagerTimeout(int ms);
    int managerTimeout() const;

private Q_SLOTS:
    void m_checkTrigger();

private:
    QDateTime m_getDateTimeFromTrigger() const;
    void m_reportManagerExit(const QProcess &process);

    int m_interval;
    QTimer m_timer;
    Logger *m_logger;
    Script m_script;
    int m_managerTimeout = DEFAULT_MANAGER_TIMEOUT_MS;
};

// True when the first LVM snapshot is 100 % full; no snapshot or a failing
// query counts as not full.
bool isSnapshotFull(Logger *logger);
