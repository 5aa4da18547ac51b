// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "buscontract.h"
#include "stepoutcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

class ChildProcess;
class Logger;
class SettingsController;
class TriggerChecker;

// What the daemon does with what the offline upgrade left behind at boot:
//
//   mark           the offline upgrade acted on an armed upgrade since the
//                  last arming; only it makes this start "the one after"
//   result stamps  success or failure of the minor upgrade (and of a major
//                  one), for the notices until a client clears them
//   snapshot stamp asks the offline upgrade for a snapshot first; once it
//                  has done its work the snapshot is rolled back to (on
//                  failure), removed or handed over to the snapshot
//                  manager's automatization (LVM), or kept until the health
//                  check finds the system healthy
//   status file    and the arming stamp: what a start while still armed
//                  reads back
//
// The rollback and the removal run the stage program in the background
// while the daemon goes on starting; `recoveryStarting` lets the owner keep
// its own stage runs from overlapping, and finishRecovery() waits for one.
// A failed step answers with the path and the system's reason; debug lines
// go under the caller's place.
class AfterReboot : public QObject
{
    Q_OBJECT

public:
    struct Paths
    {
        QString mark;
        QString snapshotStamp;
        QString minorSucceeded;
        QString minorFailed;
        QString majorAborted;
        QString majorSucceeded;
        QString status;
        QString armingStamp;
        // Runs the rollback, the removal and the questions about the volume.
        QString stageProgram;
        // The daemon's own files, under the sysroot.
        static Paths system();
    };

    template<typename Code> using Outcome = StepOutcome<Code>;

    // What a start while still armed takes back from disk.
    struct Armed
    {
        QString targetRelease;
        // One package a line in the stamp; empty when it cannot be read.
        QStringList listing;
        // Empty unless either file could not be read: "path: reason".
        QString failure;
    };

    // `logger` must outlive the part; the owner calls finishRecovery() while
    // it still lives.
    AfterReboot(Logger &logger, Paths paths, QObject *parent = nullptr);
    ~AfterReboot() override;

    const Paths &paths() const { return m_paths; }

    // Reads the mark, once per start: true when this start is the first
    // after the offline upgrade acted.
    bool readMark();
    bool startedAfterUpgrade() const { return m_startedAfterUpgrade; }
    // Removes the mark read by readMark(); logs when it cannot, since the
    // next start would then take itself for the first after the upgrade.
    void dropMark();

    // Any stamp the offline upgrade reads or writes about a minor upgrade.
    bool hasResultStamps() const;

    // The deadline and the retry stamp belonged to the upgrade just done.
    // Loads and, when either is set, clears both in `settings`; true when
    // both were cleared and written.
    bool clearUpgradeDeadlines(SettingsController &settings);

    // The snapshot stamp follows the configuration's Snapshot key. An empty
    // failure when the stamp is as asked.
    QString markSnapshot(bool wanted, const QString &where);

    // After the offline upgrade: rolls back to the snapshot after a failure;
    // after a success removes it, hands it over (LVM) or, with
    // `keepForHealth` on the first start after the upgrade, keeps it until
    // releaseKeptSnapshot(). Nothing without the snapshot stamp.
    void settle(bool keepForHealth, const QString &where);
    bool isSnapshotKept() const { return m_snapshotKept; }
    // The kept snapshot goes the way it goes otherwise; false when none was
    // kept.
    bool releaseKeptSnapshot();
    // The snapshot manager's automatization is being watched for.
    bool isHandingOver() const;

    // Waits (generously bounded) for a rollback or removal still running and
    // logs one that failed to finish; nothing when none runs.
    void finishRecovery();
    // Process group of a recovery run still going, else 0.
    qint64 recoveryGroup() const;

    // Clears a result stamp for a client (the bus's type numbers).
    Outcome<StampRemoval> removeResultStamp(int type, const QString &where);

    Armed readArmed() const;

Q_SIGNALS:
    // Just before a recovery run starts: the owner's stage runs must not
    // overlap it.
    void recoveryStarting();

private:
    void letGoOfSnapshot();
    void startRecovery(const QString &stage);
    QString resultStampPath(int type) const;

    Logger &m_logger;
    const Paths m_paths;
    ChildProcess *m_recovery = nullptr;
    // The stage m_recovery was started for, until it has been waited for.
    QString m_recoveryStage;
    TriggerChecker *m_triggerChecker = nullptr;
    bool m_startedAfterUpgrade = false;
    bool m_snapshotKept = false;
};
