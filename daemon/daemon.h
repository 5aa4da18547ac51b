#pragma once

#include "currenttask.h"
#include "logger.h"
#include "stage.h"
#include "triggerchecker.h"

#include <QObject>
#include <QStringList>

class Controller;
class QFileSystemWatcher;
class QProcess;
class QThread;
class QTimer;
class SettingsController;

// The update daemon: one object on the main thread that owns the timers,
// processes and settings and drives the update cycle through them.
class Daemon : public QObject
{
    Q_OBJECT
    // In-process tests look at and set the members directly.
    friend class DaemonTestPeer;

public:
    explicit Daemon(QObject *parent = nullptr);
    ~Daemon() override;

    void start();
    void tryToCreateAppDirs();
    bool isUpgradeStampPresent() const;

    // Task and state model
    const QString getStateAsString() const;

    // Settings
    QString loadSettings(bool reload);

    // Repository selection
    void parseExtraRepos(const QString &extraRepos);
    void cleanSourceDir();
    const QStringList getArgsForRepos(int policy);
    void manageReposPolicyFile();

    // Timers and deadlines
    void setDownloadTimerInterval();
    void startDownloadTimer();
    void startTEndTimer();
    void startEndRetryTimer();
    bool isTEndSetAndPassed() const;
    bool isRetryTimeStampSetAndPassed() const;
    int isUpgradeCanBeDisabled();
    int setForcedMode();

    // Stage program
    int checkUpdatesByScript();
    int getDownloadResult();
    int execScriptsByScript(Stage stage, SubStage subStage, Stage prevStage);

    // Connection
    bool ping();
    bool checkConnection();

    // Update check and download
    const QStringList getUpgradableList();
    bool areThereNewPackages();
    int fillMinorUpdateVersion();
    void setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce);
    int downloadUpdatesByScript();

    // Error actions
    void doActionOnError();
    void doStopAction();
    void doResetAction();
    void doRetryAction();

    // First block
    void tryToPassFirstBlock();
    void startUpdateImitation();
    void resetRetryTimeStamp();

    // Configuration copy
    void makeConfigCopy();
    void removeConfigCopyAndCheckOriginal();
    void removeConfigCopyAndOverriteOriginal();

    // Arming
    bool isUpgradeAlreadySet() const;
    int setUpdateSet();

    // Major-release upgrade
    int getMajorReportMode() const;
    void tryToRestartMinorUpdate();
    int setReady();

    // Stamps and status file
    void manageStatusFile();
    void actualizeSnapshotStamp(bool state);
    void areWeAfterMinorUpgrade();
    int getFsType();

    // The random download delay in minutes from the bounds and a 32-bit
    // random word: uniform over [minDelay, maxDelay), or maxDelay when the
    // bounds are equal or reversed.
    static int downloadDelayMinutes(int minDelay, int maxDelay, quint32 randomWord);
    // Minutes as a QTimer interval; out-of-range values are clamped (the
    // largest interval a QTimer takes is about 24.8 days).
    static int minutesToMsec(qint64 minutes, bool *clamped = nullptr);

public Q_SLOTS:
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

private:
    int completedStateNumber(const QString &where) const;
    // One blocking run of the stage program. A run that could not start,
    // crashed or outlived its wait yields `failureCode` (logged), so that it
    // never passes for an answer the program did not give.
    int m_runStage(const QStringList &arguments, int failureCode);
    // Ends a stage run that outlived its wait, so the runner is free again;
    // a recovery run is waited for instead.
    void m_stopStaleStage();
    // Starts the rollback or snapshot removal owed after an upgrade at
    // reboot without waiting for it.
    void m_startRecoveryStage(const QString &stage);
    // Waits (generously bounded) for that run and logs one that failed to
    // finish; nothing when none is owed.
    void m_finishRecoveryStage();
    // A download that could not even start counts as a failed download.
    void m_downloadFailed();
    // Forced mode downloads at once; otherwise after a new random delay.
    void m_downloadNowOrLater(const QString &where);
    // Keeps a stamp timer running exactly while its stamp is set.
    void m_followStamp(bool stampSet, QTimer *timer, void (Daemon::*startTheTimer)(),
                       const QString &timerName, const QString &stampName);
    // Creates (interval "T_end_check") and (re)starts a stamp timer.
    void m_startStampTimer(QTimer *&timer, const QString &where, const QString &timerName,
                           void (Daemon::*slot)());
    // setNoUpdates; `breakLock` false never terminates the holder of the
    // package lock when the clean fails.
    void m_setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce, bool breakLock);
    // Interval of `timer` set from minutes, warning when clamped.
    void setTimerMinutes(QTimer *timer, qint64 minutes, const QString &what);
    // Keeps the configuration file watched after a replace-by-rename.
    void rewatchConfigFile();

    QTimer *m_checkUpdatesTimer = nullptr;
    QTimer *m_downloadUpdatesTimer = nullptr;
    QTimer *m_waitDownloadProcTimer = nullptr;
    QTimer *m_checkTEndTimer = nullptr;
    QTimer *m_checkRetryTimeStampTimer = nullptr;
    QTimer *m_checkMajorInstalledTimer = nullptr;
    QTimer *m_checkMajorReportTimer = nullptr;
    QTimer *m_checkConnectionTimer = nullptr;
    QProcess *m_commonProcess = nullptr;
    QProcess *m_psProcess = nullptr;
    // The recovery stage m_commonProcess was started for, until it has been
    // waited for.
    QString m_recoveryStage;
    QStringList m_upgradableList;
    QFileSystemWatcher *m_configWatcher = nullptr;
    Logger m_logger;
    int m_task = 0;
    int m_prevtask = 0;
    int m_logicalTask = 0;
    QString m_availUpdateVersion;
    SettingsController *m_settingsController = nullptr;
    TriggerChecker m_triggerChecker;
    QStringList m_extraRepos;
    int m_allReposPolicy = 0;
    bool m_isUpgradeEnabled = false;
    bool upgradeMustBeEnabled = false;
    bool m_firstBlockPassed = false;
    qint64 m_pid = -1;
    bool m_forcedMode = false;
    int m_currentError = -1;
    Controller *m_controller = nullptr;
    QThread *m_imitationThread = nullptr;
    // Set while the immediate re-check of a Reset runs: a Reset asked for
    // from inside it leaves the next check to m_checkUpdatesTimer.
    bool m_resetRecheckRunning = false;
};
