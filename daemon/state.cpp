// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"
#include "statussnapshot.h"

#include <QCoreApplication>
#include <QtGlobal>

void Daemon::setTask(CurrentTask task)
{
    m_progress.moveTo(task, KIRTA_WHERE);
}

void Daemon::setLogicalTask(CurrentTask task)
{
    m_progress.setLogicalTask(task);
}

// Rendering of DownloadCompleted: 4 ready, 6 forced, 5 activated. The word
// and the number share it, log lines and test order included.
int Daemon::completedStateNumber(const QString &where) const
{
    if (!m_progress.isArmed()) {
        m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = false"));
        return toInt(StateNumber::Ready);
    }
    m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = true"));
    if (isTEndSetAndPassed() || m_progress.isForced()) {
        m_logger.debug(where, QStringLiteral("(isTEndSetAndPassed() || m_forcedMode) = true"));
        return toInt(StateNumber::Forced);
    }
    m_logger.debug(where, QStringLiteral("(isTEndSetAndPassed() || m_forcedMode) = false"));
    return toInt(StateNumber::Activated);
}

const QString Daemon::getStateAsString() const
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("m_task"), m_progress.task());
    if (m_progress.task() == toInt(CurrentTask::DownloadCompleted)) {
        const int number = completedStateNumber(where);
        return number == toInt(StateNumber::Ready)    ? QStringLiteral("ready")
               : number == toInt(StateNumber::Forced) ? QStringLiteral("forced")
                                                      : QStringLiteral("activated");
    }
    return StatusSnapshot::taskWord(m_progress.task());
}

const QString Daemon::getCurrentStateAsString() const
{
    const QString word = getStateAsString();
    m_logger.debug(KIRTA_WHERE, QStringLiteral("current state = ") + word);
    return word;
}

int Daemon::getCurrentStateAsInt() const
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("m_task"), m_progress.task());
    if (m_progress.task() == toInt(CurrentTask::DownloadCompleted)) {
        return completedStateNumber(where);
    }
    return StatusSnapshot::taskNumber(m_progress.task());
}

int Daemon::getCurrentErrorAsInt() const
{
    m_logger.debug(KIRTA_WHERE, QStringLiteral("m_currentError"), m_progress.error());
    return m_progress.error();
}

const QString Daemon::getUpdateDateAsString() const
{
    const QString where = KIRTA_WHERE;
    const QDateTime timeStamp = m_settingsController->params().upgrade_time_stamp.second;
    if (timeStamp.isValid()) {
        m_logger.debug(where, QStringLiteral("timeStamp is valid"));
        return timeStamp.toString(DATE_TIME_FORMAT);
    }
    m_logger.debug(where, QStringLiteral("Upgrade date not set or not valid"));
    return QCoreApplication::translate("Daemon", "Upgrade date not set or not valid");
}

const QString Daemon::getMinorUpdateVersion() const
{
    const QString where = KIRTA_WHERE;
    const QString &release = m_check->release();
    if (!release.isEmpty()) {
        m_logger.debug(where, QStringLiteral("available update version = ") + release);
        return release;
    }
    m_logger.debug(where, QStringLiteral("Version unknown"));
    return QCoreApplication::translate("Daemon", "Version unknown");
}

StatusSnapshot Daemon::statusSnapshot() const
{
    StatusSnapshot snapshot;
    snapshot.task = m_progress.task();
    snapshot.armed = m_progress.isArmed();
    snapshot.forcedMode = m_progress.isForced();
    snapshot.error = m_progress.error();
    snapshot.version = m_check->release();
    snapshot.deadline = m_settingsController->params().upgrade_time_stamp.second;
    snapshot.upgradable = m_check->upgradable();
    snapshot.lastCheck = m_check->lastSuccess();
    snapshot.logLevel = m_logger.level();
    return snapshot;
}
