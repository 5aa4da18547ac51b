#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QProcess>
#include <QTimer>

bool Daemon::ping()
{
    const QString where = QStringLiteral("bool Daemon::ping()");
    const QString host = m_settingsController->params().host_to_ping.second;
    m_logger.debug(where, QStringLiteral("m_hostToPing = ") + host);

    QProcess process;
    process.setProgram(PING_PATH);
    process.setArguments(
            {host, QStringLiteral("-c3"), QStringLiteral("-i0.1"), QStringLiteral("-W0.1")});
    process.start(QIODevice::ReadWrite);
    const bool finished = process.waitForFinished(2000);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_logger.error(QStringLiteral("An attempt to ping '%1' failed").arg(host));
        return false;
    }
    m_logger.debug(where, QStringLiteral("exitcode = %1").arg(process.exitCode()));
    return true;
}

bool Daemon::checkConnection()
{
    const QString where = QStringLiteral("bool Daemon::checkConnection()");
    m_logger.debug(where, QStringLiteral("start checking connection"));
    if (ping()) {
        m_logger.debug(where, QStringLiteral("ping() return true"));
        return true;
    }
    m_logger.debug(where, QStringLiteral("ping() return false"));
    if (m_task != toInt(CurrentTask::WaitingForConnection))
        m_logger.debug(where, QStringLiteral("m_task != CurrentTask::WaitingForConnection "));
    setTask(CurrentTask::WaitingForConnection);
    if (!m_checkConnectionTimer) {
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer"));
        m_checkConnectionTimer = new QTimer(this);
        connect(m_checkConnectionTimer, &QTimer::timeout, this, &Daemon::restartTaskByConnection);
        m_checkConnectionTimer->setInterval(5000);
    }
    if (!m_checkConnectionTimer->isActive()) {
        m_logger.debug(where, QStringLiteral("!m_checkConnectionTimer->isActive()"));
        m_checkConnectionTimer->start();
    }
    return false;
}

void Daemon::restartTaskByConnection()
{
    const QString where = QStringLiteral("void Daemon::restartTaskByConnection()");
    m_logger.debug(where, QStringLiteral("REPEAT"));
    if (!checkConnection())
        return;
    m_checkConnectionTimer->stop();
    m_logger.debug(where, QStringLiteral("m_prevtask"), m_prevtask);
    m_logger.debug(where, QStringLiteral("m_task"), m_task);
    // A stop or a drop during the wait has moved the cycle on; only a task
    // still waiting returns to where it was.
    if (m_task == toInt(CurrentTask::WaitingForConnection))
        setTask(CurrentTask(m_prevtask));
    if (m_logicalTask == toInt(CurrentTask::WaitingForUpdates)) {
        m_logger.debug(where, QStringLiteral("m_logicalTask == CurrentTask::WaitingForUpdates"));
        QTimer::singleShot(100, this, &Daemon::checkUpdates);
    } else if (m_logicalTask == toInt(CurrentTask::WaitingForDownload)) {
        m_logger.debug(where, QStringLiteral("m_logicalTask == CurrentTask::WaitingForDownload"));
        QTimer::singleShot(100, this, &Daemon::downloadUpdatesByScript);
    }
}
