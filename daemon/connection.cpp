// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QTimer>

bool Daemon::ping()
{
    const QString where = KIRTA_WHERE;
    const QString host = m_settingsController->params().host_to_ping.second;
    m_logger.debug(where, QStringLiteral("m_hostToPing = ") + host);
    if (!m_connection->probe(host)) {
        m_logger.error(QStringLiteral("An attempt to ping '%1' failed").arg(host));
        return false;
    }
    // Only an exit with 0 counts as an answer.
    m_logger.debug(where, QStringLiteral("exitcode = %1").arg(0));
    return true;
}

bool Daemon::checkConnection()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("start checking connection"));
    if (ping()) {
        m_logger.debug(where, QStringLiteral("ping() return true"));
        return true;
    }
    m_logger.debug(where, QStringLiteral("ping() return false"));
    if (m_progress.task() != toInt(CurrentTask::WaitingForConnection))
        m_logger.debug(where, QStringLiteral("m_task != CurrentTask::WaitingForConnection "));
    setTask(CurrentTask::WaitingForConnection);
    if (!m_connection->hasRetryTimer())
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer"));
    if (!m_connection->isWaiting())
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer->isActive()"));
    m_connection->begin();
    return false;
}

void Daemon::restartTaskByConnection()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("REPEAT"));
    if (!checkConnection())
        return;
    m_connection->end();
    m_logger.debug(where, QStringLiteral("m_prevtask"), m_progress.value().returnTask);
    m_logger.debug(where, QStringLiteral("m_task"), m_progress.task());
    // A stop or a drop during the wait has moved the cycle on; only a task
    // still waiting returns to where it was.
    if (m_progress.task() == toInt(CurrentTask::WaitingForConnection))
        setTask(CurrentTask(m_progress.value().returnTask));
    if (m_progress.value().logicalTask == toInt(CurrentTask::WaitingForUpdates)) {
        m_logger.debug(where, QStringLiteral("m_logicalTask == CurrentTask::WaitingForUpdates"));
        QTimer::singleShot(100, this, &Daemon::checkUpdates);
    } else if (m_progress.value().logicalTask == toInt(CurrentTask::WaitingForDownload)) {
        m_logger.debug(where, QStringLiteral("m_logicalTask == CurrentTask::WaitingForDownload"));
        QTimer::singleShot(100, this, &Daemon::downloadUpdatesByScript);
    }
}
