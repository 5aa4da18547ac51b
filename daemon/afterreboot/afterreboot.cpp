// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "afterreboot.h"

#include "childprocess.h"
#include "codes.h"
#include "constants.h"
#include "logger.h"
#include "script.h"
#include "settingscontroller.h"
#include "triggerchecker.h"

#include <QFile>
#include <QSettings>

namespace {
// Stands for "no usable exit code" where a non-zero code means failure.
constexpr int STAGE_FAILED = -1;
// A rollback or snapshot removal may take long on a big volume; this only
// keeps a hung one from stopping the daemon for good.
constexpr int RECOVERY_STAGE_WAIT_MSEC = 30 * 60 * 1000;
// Only long enough to see that it started; it then runs on its own.
constexpr int RECOVERY_START_WAIT_MSEC = 1000;
} // namespace

AfterReboot::Paths AfterReboot::Paths::system()
{
    return {UPGRADE_RAN_MARK_PATH, SNAPSHOT_STAMP_PATH,    MINOR_SUCCESS_STAMP_PATH,
            MINOR_FAIL_STAMP_PATH, MAJOR_ABORT_STAMP_PATH, MAJOR_SUCCESS_STAMP_PATH,
            STATUS_FILE_PATH,      UPGRADE_STAMP_PATH,     SERVICE_SCRIPT_PATH};
}

AfterReboot::AfterReboot(Logger &logger, Paths paths, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_paths(std::move(paths))
    , m_recovery(new ChildProcess(this))
    , m_triggerChecker(new TriggerChecker(m_paths.stageProgram, &m_logger, this))
{
    m_recovery->setProgram(m_paths.stageProgram);
    // The stage program's own words end up in the daemon's journal.
    m_recovery->setProcessChannelMode(QProcess::ForwardedChannels);
}

AfterReboot::~AfterReboot() = default;

bool AfterReboot::readMark()
{
    // Only the mark tells that the offline upgrade acted since the last
    // arming: a result stamp nobody cleared stays for months on a server,
    // and would make every plain restart undo the armed upgrade.
    m_startedAfterUpgrade = QFile::exists(m_paths.mark);
    return m_startedAfterUpgrade;
}

void AfterReboot::dropMark()
{
    if (m_startedAfterUpgrade && !QFile::remove(m_paths.mark))
        m_logger.error(QStringLiteral("Cannot remove %1: the next start would take itself for "
                                      "the first after the upgrade")
                               .arg(m_paths.mark));
}

bool AfterReboot::hasResultStamps() const
{
    for (const QString &stamp :
         {m_paths.snapshotStamp, m_paths.minorSucceeded, m_paths.minorFailed})
        if (QFile::exists(stamp))
            return true;
    return false;
}

bool AfterReboot::clearUpgradeDeadlines(SettingsController &settings)
{
    // Kept, they would arm the next download at once and, should the upgrade
    // fail again, repeat it at every reboot.
    settings.load();
    Params params = settings.params();
    if (!params.upgrade_time_stamp.second.isValid() && !params.retry_time_stamp.second.isValid())
        return false;
    params.upgrade_time_stamp.second = QDateTime();
    params.retry_time_stamp.second = QDateTime();
    settings.setParams(params);
    // A write that failed is logged by the controller; "cleared" would be
    // untrue then.
    if (!settings.sync())
        return false;
    m_logger.info(QStringLiteral("Upgrade at reboot done, its deadline and retry stamp cleared"));
    return true;
}

QString AfterReboot::markSnapshot(bool wanted, const QString &where)
{
    m_logger.debug(where);
    QFile stampFile(m_paths.snapshotStamp);
    if (stampFile.exists()) {
        m_logger.debug(where, QStringLiteral("stampFile.exists() = true"));
        if (!wanted) {
            m_logger.debug(where, QStringLiteral(" state == false"));
            if (!stampFile.remove())
                return stepFailure(m_paths.snapshotStamp, stampFile.errorString());
        }
        return QString();
    }
    m_logger.debug(where, QStringLiteral("stampFile.exists() = false"));
    if (!wanted)
        return QString();
    m_logger.debug(where, QStringLiteral("state = true"));
    if (!stampFile.open(QIODevice::ReadWrite))
        return stepFailure(m_paths.snapshotStamp, stampFile.errorString());
    m_logger.debug(where, QStringLiteral("stampFile.open(QIODevice::ReadWrite) return true"));
    stampFile.close();
    return QString();
}

void AfterReboot::settle(bool keepForHealth, const QString &where)
{
    m_logger.debug(where);
    if (!QFile::exists(m_paths.snapshotStamp))
        return;
    m_logger.debug(where, QStringLiteral("snapStampFile.exists() return true"));
    if (QFile::exists(m_paths.minorFailed)) {
        m_logger.debug(where, QStringLiteral("failureStamp.exists() return true"));
        // Runs on while the daemon registers on the bus; the next stage run
        // waits for it.
        startRecovery(STAGE_ROLLBACK);
        return;
    }
    if (!QFile::exists(m_paths.minorSucceeded))
        return;
    m_logger.debug(where, QStringLiteral("successStamp.exists() return true"));
    // The health check may still want to roll back to it.
    if (m_startedAfterUpgrade && keepForHealth) {
        m_logger.info(QStringLiteral("Snapshot kept until the system is found healthy"));
        m_snapshotKept = true;
        return;
    }
    letGoOfSnapshot();
}

bool AfterReboot::releaseKeptSnapshot()
{
    if (!m_snapshotKept)
        return false;
    m_snapshotKept = false;
    m_logger.info(QStringLiteral("System found healthy, letting go of the snapshot"));
    letGoOfSnapshot();
    return true;
}

bool AfterReboot::isHandingOver() const
{
    return m_triggerChecker->isChecking();
}

void AfterReboot::letGoOfSnapshot()
{
    // On LVM the snapshot manager's automatization takes it over.
    if (Script(m_paths.stageProgram, &m_logger).getFsType() == toInt(FsType::Lvm)) {
        m_triggerChecker->startTriggerCheck();
        return;
    }
    startRecovery(STAGE_RM_SNAPSHOT);
}

void AfterReboot::startRecovery(const QString &stage)
{
    finishRecovery();
    emit recoveryStarting();
    m_recovery->setArguments({stage});
    if (m_recovery->run(RECOVERY_START_WAIT_MSEC, ChildProcess::Overrun::Leave)
        == ChildProcess::Ending::FailedToStart) {
        m_logger.error(QStringLiteral("%1 %2 %3, taken as exit code %4")
                               .arg(m_paths.stageProgram, stage,
                                    m_recovery->describe(RECOVERY_START_WAIT_MSEC))
                               .arg(STAGE_FAILED));
        return;
    }
    m_recoveryStage = stage;
}

void AfterReboot::finishRecovery()
{
    if (m_recoveryStage.isEmpty())
        return;
    const QString stage = m_recoveryStage;
    m_recoveryStage.clear();
    // Cut off, it would be attempted again at the next start on a half
    // restored system: everything else waits for it.
    if (m_recovery->ending() == ChildProcess::Ending::Running) {
        m_logger.info(
                QStringLiteral("Waiting for %1 %2 to finish").arg(m_paths.stageProgram, stage));
        m_recovery->wait(RECOVERY_STAGE_WAIT_MSEC);
    }
    if (m_recovery->ending() == ChildProcess::Ending::Exited)
        return;
    m_logger.error(QStringLiteral("%1 %2 %3, taken as exit code %4")
                           .arg(m_paths.stageProgram, stage,
                                m_recovery->describe(RECOVERY_STAGE_WAIT_MSEC))
                           .arg(STAGE_FAILED));
    // Given up on after its bound: it must not hold the stage program's
    // locks under the next run.
    if (m_recovery->ending() == ChildProcess::Ending::Running)
        m_recovery->end();
}

qint64 AfterReboot::recoveryGroup() const
{
    return m_recovery->ending() == ChildProcess::Ending::Running ? m_recovery->processGroup() : 0;
}

QString AfterReboot::resultStampPath(int type) const
{
    switch (type) {
    case toInt(ResultStamp::MinorFailed):
        return m_paths.minorFailed;
    case toInt(ResultStamp::MinorSucceeded):
        return m_paths.minorSucceeded;
    case toInt(ResultStamp::MajorAborted):
        return m_paths.majorAborted;
    case toInt(ResultStamp::MajorSucceeded):
        return m_paths.majorSucceeded;
    default:
        return QString();
    }
}

AfterReboot::Outcome<StampRemoval> AfterReboot::removeResultStamp(int type, const QString &where)
{
    const QString path = resultStampPath(type);
    QFile resultStamp(path);
    if (path.isEmpty() || !resultStamp.exists())
        return {StampRemoval::Absent, QString()};
    m_logger.debug(where, QStringLiteral("type"), type);
    m_logger.debug(where, QStringLiteral("resultStamp.exists() return true"));
    if (resultStamp.remove()) {
        m_logger.debug(where, QStringLiteral("resultStamp.remove() return true"));
        return {StampRemoval::Removed, QString()};
    }
    m_logger.debug(where, QStringLiteral("resultStamp.remove() return false"));
    return {StampRemoval::Failed, stepFailure(path, resultStamp.errorString())};
}

AfterReboot::Armed AfterReboot::readArmed() const
{
    const QSettings status(m_paths.status, QSettings::NativeFormat);
    Armed armed {status.value(TARGET_RELEASE_KEY).toString(), QStringList(), QString()};
    if (status.status() != QSettings::NoError)
        armed.failure = stepFailure(m_paths.status, status.status() == QSettings::AccessError
                                                            ? QStringLiteral("not readable")
                                                            : QStringLiteral("malformed"));
    QFile stamp(m_paths.armingStamp);
    if (stamp.open(QIODevice::ReadOnly))
        armed.listing = QString::fromUtf8(stamp.readAll()).split(QLatin1Char('\n'));
    else
        armed.failure = stepFailure(m_paths.armingStamp, stamp.errorString());
    return armed;
}
