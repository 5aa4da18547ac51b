// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"
#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QTimer>

namespace {
// Three probes 0.2 s apart; without any answer ping waits 2 s more, so a
// slow link (satellite, mobile) still answers in time.
constexpr int PING_WAIT_MSEC = 5000;
// While there is no connection the probe is repeated every 5 s, so that a
// returning network is used at once; each probe is bounded above.
constexpr int CONNECTION_RETRY_MSEC = 5000;
} // namespace

bool Daemon::ping()
{
    const QString where = KIRTA_WHERE;
    const QString host = m_settingsController->params().host_to_ping.second;
    m_logger.debug(where, QStringLiteral("m_hostToPing = ") + host);

    ChildProcess process;
    process.setProgram(PING_PATH);
    process.setArguments(
            {host, QStringLiteral("-c3"), QStringLiteral("-i0.2"), QStringLiteral("-W2")});
    if (process.run(PING_WAIT_MSEC) != ChildProcess::Ending::Exited || process.exitCode() != 0) {
        m_logger.error(QStringLiteral("An attempt to ping '%1' failed").arg(host));
        return false;
    }
    m_logger.debug(where, QStringLiteral("exitcode = %1").arg(process.exitCode()));
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
    if (!m_checkConnectionTimer) {
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer"));
        m_checkConnectionTimer = new QTimer(this);
        connect(m_checkConnectionTimer, &QTimer::timeout, this, &Daemon::restartTaskByConnection);
    }
    if (!m_checkConnectionTimer->isActive()) {
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer->isActive()"));
        m_checkConnectionTimer->setInterval(CONNECTION_RETRY_MSEC);
        m_checkConnectionTimer->start();
    }
    return false;
}

void Daemon::restartTaskByConnection()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("REPEAT"));
    if (!checkConnection())
        return;
    m_checkConnectionTimer->stop();
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
