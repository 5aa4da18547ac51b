// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"
#include "constants.h"
#include "daemon.h"
#include "firstblock.h"
#include "majorrelease.h"
#include "settingscontroller.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSettings>
#include <QTimer>

Daemon::Daemon(QObject *parent)
    : QObject(parent)
    , m_logger(LOG_FILE_PATH, Logger::Debug)
    , m_settingsController(new SettingsController(SETTINGS_PATH))
{
    m_settingsController->setLogger(&m_logger);
    m_commonProcess = new ChildProcess(this);
    m_commonProcess->setProgram(SERVICE_SCRIPT_PATH);
    // The stage program's own words end up in the daemon's journal.
    m_commonProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    m_check = new UpdateCheck(m_logger, this);
    connect(m_check, &UpdateCheck::due, this, &Daemon::checkUpdates);
    m_download = new Download(m_logger, SERVICE_SCRIPT_PATH, this);
    connect(m_download, &Download::pollDue, this, &Daemon::checkDownloadIsFinished);
    connect(m_download, &Download::holdLifted, this, &Daemon::downloadUpdatesByScript);
    m_connection = new ConnectionWait(PING_PATH, this);
    connect(m_connection, &ConnectionWait::retryDue, this, &Daemon::restartTaskByConnection);
    m_arming = new Arming(m_logger, Arming::Paths::system(), this);
    // What the first block found no longer holds for an edited configuration.
    connect(m_arming, &Arming::originalChanged, this, [this] {
        m_progress.setFirstBlockPassed(false);
        reloadSettings();
    });
    m_afterReboot = new AfterReboot(m_logger, AfterReboot::Paths::system(), this);
    // A rollback and a stage run never overlap.
    connect(m_afterReboot, &AfterReboot::recoveryStarting, this, &Daemon::m_stopStaleStage);
    m_clock = new CycleClock(m_logger, this);
    connect(m_clock, &CycleClock::downloadDue, this, &Daemon::downloadUpdatesByScript);
    connect(m_clock, &CycleClock::deadlineCheckDue, this, &Daemon::checkTimeEnd);
    connect(m_clock, &CycleClock::retryCheckDue, this, &Daemon::checkRetryTimeStamp);
    m_firstBlock = new FirstBlock(m_logger, this);
    connect(m_firstBlock, &FirstBlock::due, this, &Daemon::tryToPassFirstBlock);
    connect(m_firstBlock, &FirstBlock::imitationFinished, this, &Daemon::getImitationResult);
    m_major = new MajorRelease(m_logger, this);
    connect(m_major, &MajorRelease::installationCheckDue, this,
            &Daemon::checkisMajorUpdateInstalled);
    connect(m_major, &MajorRelease::reportCheckDue, this, &Daemon::checkMajorReport);
}

Daemon::~Daemon()
{
    // Leaving on a lost bus must not cut a rollback off either.
    m_afterReboot->finishRecovery();
    // Its trigger check may still have a manager run to report: before the
    // logger goes, not after as a child would.
    delete m_afterReboot;
    delete m_settingsController;
    // Waits for a running imitation, while the logger it was given lives.
    delete m_firstBlock;
}

void Daemon::start()
{
    m_logger.debug(KIRTA_WHERE);
    tryToCreateAppDirs();
    const bool startedAfterUpgrade = m_afterReboot->readMark();
    if (startedAfterUpgrade) {
        if (m_afterReboot->hasResultStamps()) {
            m_logger.info(QStringLiteral("Copy config must be removed"));
            removeConfigCopyAndOverriteOriginal();
        }
        // After an upgrade at reboot the next download gets a deadline of
        // its own.
        m_afterReboot->clearUpgradeDeadlines(*m_settingsController);
    } else if (m_afterReboot->hasResultStamps() && QFile::exists(SETTINGS_COPY_PATH)) {
        m_logger.info(QStringLiteral("Result stamps of an earlier upgrade at reboot, the offline "
                                     "upgrade has not run since arming: configuration stays "
                                     "frozen"));
    }
    const QString settingsPath = loadSettings(false);
    areWeAfterMinorUpgrade();
    m_afterReboot->dropMark();

    m_configWatcher = new QFileSystemWatcher(this);
    m_configWatcher->addPath(settingsPath);
    connect(m_configWatcher, &QFileSystemWatcher::fileChanged, this, &Daemon::reloadSettings);

    checkisMajorUpdateInstalled();
    m_major->watchInstallation();

    m_check->setMinutes(*m_clock, m_settingsController->params().checkPeriod());
    if (m_restoreArmedUpgrade())
        return;
    QTimer::singleShot(100, this, &Daemon::checkUpdates);
}

bool Daemon::m_restoreArmedUpgrade()
{
    // Armed before this start, and the imitation passed then (the frozen
    // copy is made only after it): the daemon goes on where it stopped, with
    // the check and download timers halted as arming leaves them.
    if (m_afterReboot->startedAfterUpgrade() || m_progress.task() != toInt(CurrentTask::Unknown)
        || !isUpgradeAlreadySet() || !QFile::exists(SETTINGS_COPY_PATH))
        return false;
    const AfterReboot::Armed armed = m_afterReboot->readArmed();
    m_check->restore(armed.targetRelease, armed.listing);
    // It stays armed all the same: the boot needs only the link and stamp.
    if (!armed.failure.isEmpty())
        m_logger.warning(QStringLiteral("The armed upgrade's release or package listing could not "
                                        "be read back (%1)")
                                 .arg(armed.failure));
    m_progress.setFirstBlockPassed(true);
    m_progress.setArmed(true);
    setTask(CurrentTask::DownloadCompleted);
    m_check->stop();
    manageStatusFile();
    m_logger.info(QStringLiteral("Upgrade armed before this start, it stays armed"));
    return true;
}

bool Daemon::startedAfterUpgradeAtReboot() const
{
    return m_afterReboot->startedAfterUpgrade();
}

void Daemon::tryToCreateAppDirs()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    for (const QString &path : {APP_LOG_DIR, APP_CACHE_DIR}) {
        QDir dir(path);
        if (!dir.exists()) {
            m_logger.debug(where, QStringLiteral("%1 does not exist").arg(path));
            dir.mkdir(path);
        }
    }
}
