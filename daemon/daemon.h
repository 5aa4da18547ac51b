// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "afterreboot.h"
#include "arming.h"
#include "codes.h"
#include "connectionwait.h"
#include "currenttask.h"
#include "cycleclock.h"
#include "download.h"
#include "logger.h"
#include "logthrottle.h"
#include "params.h"
#include "stage.h"
#include "updatecheck.h"
#include "updateprogress.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

class ChildProcess;
class FirstBlock;
class MajorRelease;
class QFileSystemWatcher;
class QThread;
class QTimer;
class SettingsController;
struct StatusSnapshot;

// The update daemon: the facade on the main thread that the bus calls and
// that writes each operation's log lines; where the update stands is
// m_progress (UpdateProgress), the cycle's clock m_clock (CycleClock), the
// files that arm the upgrade m_arming (Arming), what follows the offline
// upgrade (mark, result stamps, snapshot, rollback) m_afterReboot
// (AfterReboot), the detached download run m_download (Download), the
// period of the check and the release and listing it last found m_check
// (UpdateCheck), the watch on the major-release upgrade tool and its report
// m_major (MajorRelease), the first block's free-space check and imitation
// m_firstBlock (FirstBlock).
// daemon/README.md is the map of the parts.
//
// Its own operations, spread over daemon/*.cpp by subject:
//   startup.cpp       constructor, destructor, start(), directories at start
//   state.cpp         setTask (through m_progress) and the renderings of
//                     task and error for clients
//   settings.cpp      loading and reloading the configuration, the watch on
//                     the file, the stamp timers on each load
//   repositories.cpp  extra repository lists and the repository policy
//   timers.cpp        starting the clock's delay and watches, forced mode
//   stages.cpp        blocking runs of the stage program (update, downresult,
//                     clean, exec_scripts)
//   connection.cpp    ping and the wait for the connection (m_connection)
//   updatecheck.cpp   what a check moves (its period, release and listing
//                     are m_check's), setNoUpdates
//   download.cpp      when the download starts, what its end moves
//   erroractions.cpp  Stop, Reset and Retry after a failure
//   imitation.cpp     the first block: its hooks, what its end moves (the
//                     free-space check and the imitation are m_firstBlock's)
//   configcopy.cpp    the watch on the configuration while m_arming has it
//                     frozen
//   switch.cpp        when to arm and disarm the upgrade at reboot, with the
//                     hooks and timers around it
//   major.cpp         standing aside for the major-release upgrade and
//                     resuming after it (what m_major found moves),
//                     setStateFromOutside
//   stamps.cpp        status file; the entries to m_afterReboot (snapshot
//                     stamp, what follows the upgrade, clearing a result
//                     stamp) under their log places
//   statussnapshot.cpp  what clients read, copied for the bus thread
//   filemove.cpp      the parking move and atomic, synced file writes
// The bus side is daemon/dbus/, the helpers running outside programs are in
// daemon/workers/; every child program runs through platform/childprocess.
class Daemon : public QObject
{
    Q_OBJECT
    // In-process tests look at and set the members directly.
    friend class DaemonTestPeer;

public:
    explicit Daemon(QObject *parent = nullptr);
    ~Daemon() override;

    void start();
    // True when this start is the first after the offline upgrade acted on
    // an armed upgrade (whatever its outcome).
    bool startedAfterUpgradeAtReboot() const;
    void tryToCreateAppDirs();

    // Task and state model (state.cpp)
    const QString getStateAsString() const;
    // Everything clients read, taken without logging or file access: the
    // bus answers from it while this thread is busy.
    StatusSnapshot statusSnapshot() const;

    // Settings (settings.cpp)
    QString loadSettings(bool reload);

    // Repository selection (repositories.cpp)
    void parseExtraRepos(const QString &extraRepos);
    void cleanSourceDir();
    const QStringList getArgsForRepos(int policy);
    void manageReposPolicyFile();

    // Timers and deadlines (timers.cpp)
    void setDownloadTimerInterval();
    void startDownloadTimer();
    void startTEndTimer();
    void startEndRetryTimer();
    bool isTEndSetAndPassed() const;
    bool isRetryTimeStampSetAndPassed() const;
    int isUpgradeCanBeDisabled();
    int setForcedMode();

    // Stage program (stages.cpp)
    int checkUpdatesByScript();
    int getDownloadResult();
    int execScriptsByScript(Stage stage, SubStage subStage, Stage prevStage);

    // Connection (connection.cpp)
    bool ping();
    bool checkConnection();

    // Update check (updatecheck.cpp) and download (download.cpp)
    const QStringList getUpgradableList();
    bool areThereNewPackages();
    int fillMinorUpdateVersion();
    void setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce);
    int downloadUpdatesByScript();
    // While `reason` is not empty, no download starts unless forced mode is
    // on or the deadline has passed; a download held back starts once the
    // hold is lifted.
    void setDownloadHold(const QString &reason);

    // Error actions (erroractions.cpp)
    void doActionOnError();
    void doStopAction();
    void doResetAction();
    void doRetryAction();

    // First block (imitation.cpp): the hooks and what its end moves; the
    // free-space check and the imitation run are m_firstBlock's.
    void tryToPassFirstBlock();
    void resetRetryTimeStamp();

    // Configuration copy (configcopy.cpp)
    void makeConfigCopy();
    void removeConfigCopyAndCheckOriginal();
    void removeConfigCopyAndOverriteOriginal();

    // Arming (switch.cpp)
    bool isUpgradeAlreadySet() const;
    int setUpdateSet();

    // Major-release upgrade (major.cpp)
    int getMajorReportMode() const;
    void tryToRestartMinorUpdate();
    int setReady();

    // Status file and m_afterReboot's entries (stamps.cpp)
    void manageStatusFile();
    void actualizeSnapshotStamp(bool state);
    void areWeAfterMinorUpgrade();
    // After a successful upgrade with Health_rollback on, the snapshot is
    // kept for the health check; once the system is healthy it goes the way
    // it goes otherwise (removal or the automatization).
    void releaseSnapshotKeptForHealth();

public Q_SLOTS:
    // Reachable over the bus; each lives with its group above (state.cpp,
    // switch.cpp, major.cpp, stamps.cpp) or is a timer's slot (see the
    // timer table below).
    const QString getUpdateDateAsString() const;
    const QString getCurrentStateAsString() const;
    const QString getMinorUpdateVersion() const;
    int getCurrentStateAsInt() const;
    int getCurrentErrorAsInt() const;
    int enableUpgradeOnReboot();
    int disableUpgradeOnReboot(bool suppressForce = false);
    int setStateFromOutside(int stateAsInt);
    bool isUpgradeOnRebootEnabled() const;
    int removeUpgradeResultStamp(int type) const;
    void enableAndStartActivatingService() const;

    void reloadSettings();
    void checkUpdates();
    void restartTaskByConnection();
    void checkDownloadIsFinished();
    void checkTimeEnd();
    void checkRetryTimeStamp();
    int getImitationResult(int res);
    int cleanCacheByScript();
    void checkisMajorUpdateInstalled();
    void checkMajorReport();

Q_SIGNALS:
    // After every load and reload of the configuration: the daemon's parts
    // take their values from it.
    void settingsLoaded(const Params &params);

private:
    // Every move of the task goes through m_progress, which refuses one
    // outside the table beside CurrentTask and logs it under this place.
    void setTask(CurrentTask task);
    void setLogicalTask(CurrentTask task);
    int completedStateNumber(const QString &where) const;
    // One blocking run of the stage program. A run that could not start,
    // crashed or outlived its wait yields `failureCode` (logged), so that it
    // never passes for an answer the program did not give.
    int m_runStage(const QStringList &arguments, int failureCode);
    // Ends a stage run that outlived its wait, so the runner is free again;
    // a recovery run is waited for instead.
    void m_stopStaleStage();
    // Process groups and sessions of the daemon's runs still going that may
    // hold the package lock: a stage run left after its wait, the download.
    QList<qint64> m_ownProcessGroups() const;
    // A start while an upgrade is armed keeps it armed; true when it did.
    bool m_restoreArmedUpgrade();

    // An arm asked for while one is already under way or done: true with
    // the answer the first request got, and nothing is to be done again.
    bool m_isRepeatedArm(int *answer) const;
    // Nothing armed, nothing of an arming left on disk: a disarm has nothing
    // to do.
    bool m_isNothingArmed() const;
    // Writes `message` at most once a minute for the same throttle.
    void m_logRepeat(LogThrottle &throttle, Logger::Level level, const QString &message) const;

    // After a link step that failed: takes back the stamp, the frozen copy
    // and the stopped timers, and records ErrorNumber::ArmingFailed.
    void m_undoFailedArm(bool downloadTimerWasActive);
    // A download that could not even start counts as a failed download;
    // `failure` says why.
    void m_downloadFailed(const QString &failure);
    // Forced mode downloads at once; otherwise after a new random delay.
    void m_downloadNowOrLater(const QString &where);
    // Creates a missing stamp watch while its stamp is set, drops it once the
    // stamp is gone; never restarts one that a stop has halted.
    void m_followStamp(bool stampSet, CycleClock::Watch watch, void (Daemon::*startTheTimer)(),
                       const QString &timerName, const QString &stampName);
    // Creates (interval "T_end_check") and (re)starts a stamp watch.
    void m_startStampTimer(CycleClock::Watch watch, const QString &where, const QString &timerName);
    // The clean that left the task in Error, once more; true once it worked.
    bool m_retryFailedClean();
    // setNoUpdates; `breakLock` false never terminates the holder of the
    // package lock when the clean fails.
    void m_setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce, bool breakLock);
    // Keeps the configuration file watched after a replace-by-rename.
    void rewatchConfigFile();

    // The timers; each repeats until stopped. "Created" is where the QTimer
    // is made (lazily ones stay null until then).
    //
    // m_check (UpdateCheck) owns the check's period -> checkUpdates()
    //   interval "T_check" minutes, set in start() and by each reload.
    //   Created by the constructor. Started when a check finds nothing, a
    //   download completes, an upgrade is disarmed or a failed arm taken back,
    //   setNoUpdates without a stop, a failed clean retried in vain. Stopped
    //   while arming, by a stop, and before an immediate check (setNoUpdates
    //   with checkNow, forced mode); checkUpdates pauses it while it runs.
    // m_clock (CycleClock) owns the download delay -> downloadUpdatesByScript()
    //   and the deadline and retry watches -> checkTimeEnd(),
    //   checkRetryTimeStamp(); startDownloadTimer(), startTEndTimer() and
    //   startEndRetryTimer() start them. The download delay is started by new
    //   packages or a failed download and stopped when a download starts and
    //   while arming. A watch is started at the end of a download (deadline),
    //   by the Retry action (retry), or by a load that finds its stamp set and
    //   no watch; halted by a stop, which a load never undoes; dropped by a
    //   load that finds its stamp unset. A reload retunes the deadline watch.
    // m_download (Download) owns the poll of the detached download ->
    //   checkDownloadIsFinished(), every 5 s from each start until the
    //   process is gone or could not start, or setNoUpdates drops the
    //   update; its hold lifted -> downloadUpdatesByScript().
    // m_major (MajorRelease) owns the installation watch ->
    //   checkisMajorUpdateInstalled(), 60 s, started by start() and never
    //   stopped; and the report watch -> checkMajorReport(), 10 s, running
    //   while the checks find the major-release upgrade package installed.
    // m_firstBlock (FirstBlock) -> tryToPassFirstBlock(), a single shot of
    //   10 ms that an arm asking for the first block starts, so the arm
    //   answers first; the imitation's end -> getImitationResult().
    // m_connection (ConnectionWait) -> restartTaskByConnection()
    //   its retry timer, 5 s: started by checkConnection() when a ping fails;
    //   stopped by restartTaskByConnection() once a ping works.
    // The period of the check and what the checks remember.
    UpdateCheck *m_check = nullptr;
    CycleClock *m_clock = nullptr;
    MajorRelease *m_major = nullptr;
    ConnectionWait *m_connection = nullptr;
    // The detached download, its poll and the hold on it.
    Download *m_download = nullptr;
    // Link, stamp, frozen configuration and status file.
    Arming *m_arming = nullptr;
    ChildProcess *m_commonProcess = nullptr;
    // Mark, result stamps, snapshot, rollback: what follows the offline
    // upgrade.
    AfterReboot *m_afterReboot = nullptr;
    QFileSystemWatcher *m_configWatcher = nullptr;
    Logger m_logger;
    // Task, arming, forced mode, error: where the update stands, changed
    // only through its setter.
    UpdateProgress m_progress {m_logger};
    SettingsController *m_settingsController = nullptr;
    QStringList m_extraRepos;
    int m_allReposPolicy = 0;
    // The free-space check and the imitation, one pass at a time.
    FirstBlock *m_firstBlock = nullptr;
    // Requests that find their work done or under way: any permitted caller
    // may repeat them as often as it likes.
    mutable LogThrottle m_repeatedArms;
    mutable LogThrottle m_repeatedDisarms;
    mutable LogThrottle m_repeatedClears;
};
