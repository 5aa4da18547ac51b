// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"

#include "script.h"
#include "settingscontroller.h"

#include <QFile>

void Daemon::actualizeSnapshotStamp(bool state)
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    QFile stampFile(SNAPSHOT_STAMP_PATH);
    if (stampFile.exists()) {
        m_logger.debug(where, QStringLiteral("stampFile.exists() = true"));
        if (!state) {
            m_logger.debug(where, QStringLiteral(" state == false"));
            stampFile.remove();
        }
        return;
    }
    m_logger.debug(where, QStringLiteral("stampFile.exists() = false"));
    if (state) {
        m_logger.debug(where, QStringLiteral("state = true"));
        if (stampFile.open(QIODevice::ReadWrite)) {
            m_logger.debug(where,
                           QStringLiteral("stampFile.open(QIODevice::ReadWrite) return true"));
            stampFile.close();
        }
    }
}

void Daemon::manageStatusFile()
{
    m_arming->writeStatus(m_progress.task() == toInt(CurrentTask::DownloadCompleted),
                          m_progress.isArmed(), m_availUpdateVersion, KIRTA_WHERE);
}

int Daemon::getFsType()
{
    return Script(SERVICE_SCRIPT_PATH, &m_logger).getFsType();
}

void Daemon::areWeAfterMinorUpgrade()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!QFile::exists(SNAPSHOT_STAMP_PATH))
        return;
    m_logger.debug(where, QStringLiteral("snapStampFile.exists() return true"));
    QString stage;
    if (QFile::exists(MINOR_FAIL_STAMP_PATH)) {
        m_logger.debug(where, QStringLiteral("failureStamp.exists() return true"));
        stage = STAGE_ROLLBACK;
    } else if (QFile::exists(MINOR_SUCCESS_STAMP_PATH)) {
        m_logger.debug(where, QStringLiteral("successStamp.exists() return true"));
        // The health check may still want to roll back to it.
        if (m_startedAfterUpgrade && m_settingsController->params().health_rollback.second) {
            m_logger.info(QStringLiteral("Snapshot kept until the system is found healthy"));
            m_snapshotKeptForHealth = true;
            return;
        }
        m_letGoOfSnapshot();
        return;
    } else {
        return;
    }
    // Runs on while the daemon registers on the bus; the next stage run
    // waits for it.
    m_startRecoveryStage(stage);
}

void Daemon::m_letGoOfSnapshot()
{
    if (getFsType() == toInt(FsType::Lvm)) {
        m_triggerChecker.startTriggerCheck();
        return;
    }
    m_startRecoveryStage(STAGE_RM_SNAPSHOT);
}

void Daemon::releaseSnapshotKeptForHealth()
{
    if (!m_snapshotKeptForHealth)
        return;
    m_snapshotKeptForHealth = false;
    m_logger.info(QStringLiteral("System found healthy, letting go of the snapshot"));
    m_letGoOfSnapshot();
}

int Daemon::removeUpgradeResultStamp(int type) const
{
    const QString where = KIRTA_WHERE;
    QString path;
    switch (type) {
    case toInt(ResultStamp::MinorFailed):
        path = MINOR_FAIL_STAMP_PATH;
        break;
    case toInt(ResultStamp::MinorSucceeded):
        path = MINOR_SUCCESS_STAMP_PATH;
        break;
    case toInt(ResultStamp::MajorAborted):
        path = MAJOR_ABORT_STAMP_PATH;
        break;
    case toInt(ResultStamp::MajorSucceeded):
        path = MAJOR_SUCCESS_STAMP_PATH;
        break;
    default:
        break;
    }
    QFile resultStamp(path);
    if (path.isEmpty() || !resultStamp.exists()) {
        m_logRepeat(
                m_repeatedClears, Logger::Debug,
                QStringLiteral("Result stamp %1 to clear is not there, nothing to do").arg(type));
        return toInt(StampRemoval::Absent);
    }
    m_logger.debug(where, QStringLiteral("type"), type);
    m_logger.debug(where, QStringLiteral("resultStamp.exists() return true"));
    if (resultStamp.remove()) {
        m_logger.debug(where, QStringLiteral("resultStamp.remove() return true"));
        return toInt(StampRemoval::Removed);
    }
    m_logger.debug(where, QStringLiteral("resultStamp.remove() return false"));
    return toInt(StampRemoval::Failed);
}
