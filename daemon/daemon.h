#pragma once

#include "currenttask.h"
#include "logger.h"

#include <QObject>
#include <QStringList>

class QFileSystemWatcher;
class QProcess;
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
    void startTEndTimer();
    void startEndRetryTimer();
    bool isTEndSetAndPassed() const;
    bool isRetryTimeStampSetAndPassed() const;

    // Stamps
    void actualizeSnapshotStamp(bool state);

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

    void reloadSettings();

private:
    int completedStateNumber(const QString &where) const;
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
    QStringList m_upgradableList;
    QFileSystemWatcher *m_configWatcher = nullptr;
    Logger m_logger;
    int m_task = 0;
    int m_prevtask = 0;
    int m_logicalTask = 0;
    QString m_availUpdateVersion;
    SettingsController *m_settingsController = nullptr;
    QStringList m_extraRepos;
    int m_allReposPolicy = 0;
    bool m_isUpgradeEnabled = false;
    bool upgradeMustBeEnabled = false;
    bool m_firstBlockPassed = false;
    qint64 m_pid = -1;
    bool m_forcedMode = false;
    int m_currentError = -1;
};
