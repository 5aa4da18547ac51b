#include "constants.h"
#include "daemon.h"

#include <QProcess>

namespace {
constexpr int STAGE_WAIT_MSEC = 30000;
// A stale run gets this long to end on SIGTERM before it is killed.
constexpr int STALE_STAGE_GRACE_MSEC = 5000;
// Stands for "no usable exit code" where a non-zero code means failure.
constexpr int STAGE_FAILED = -1;
// A rollback or snapshot removal may take long on a big volume; this only
// keeps a hung one from stopping the daemon for good.
constexpr int RECOVERY_STAGE_WAIT_MSEC = 30 * 60 * 1000;
} // namespace

void Daemon::m_startRecoveryStage(const QString &stage)
{
    m_stopStaleStage();
    m_commonProcess->setArguments({stage});
    m_commonProcess->start(QIODevice::ReadWrite);
    if (!m_commonProcess->waitForStarted()) {
        m_logger.error(QStringLiteral("%1 %2 could not be started: %3, taken as exit code %4")
                               .arg(SERVICE_SCRIPT_PATH, stage, m_commonProcess->errorString())
                               .arg(STAGE_FAILED));
        return;
    }
    m_recoveryStage = stage;
}

void Daemon::m_finishRecoveryStage()
{
    if (m_recoveryStage.isEmpty())
        return;
    const QString stage = m_recoveryStage;
    m_recoveryStage.clear();
    // Cut off, it would be attempted again at the next start on a half
    // restored system: everything else waits for it.
    if (m_commonProcess->state() != QProcess::NotRunning) {
        m_logger.info(QStringLiteral("Waiting for %1 %2 to finish").arg(SERVICE_SCRIPT_PATH, stage));
        if (!m_commonProcess->waitForFinished(RECOVERY_STAGE_WAIT_MSEC)) {
            m_logger.error(QStringLiteral("%1 %2 did not finish within %3 ms, taken as exit code %4")
                                   .arg(SERVICE_SCRIPT_PATH, stage)
                                   .arg(RECOVERY_STAGE_WAIT_MSEC)
                                   .arg(STAGE_FAILED));
            return;
        }
    }
    if (m_commonProcess->exitStatus() != QProcess::NormalExit)
        m_logger.error(QStringLiteral("%1 %2 crashed, taken as exit code %3")
                               .arg(SERVICE_SCRIPT_PATH, stage)
                               .arg(STAGE_FAILED));
}

void Daemon::m_stopStaleStage()
{
    m_finishRecoveryStage();
    if (m_commonProcess->state() == QProcess::NotRunning)
        return;
    m_logger.debug(QStringLiteral("int Daemon::cleanCacheByScript()"),
                   QStringLiteral("m_commonProcess->state() != QProcess::NotRunning"));
    m_commonProcess->terminate();
    if (!m_commonProcess->waitForFinished(STALE_STAGE_GRACE_MSEC)) {
        m_commonProcess->kill();
        m_commonProcess->waitForFinished(STALE_STAGE_GRACE_MSEC);
    }
}

int Daemon::m_runStage(const QStringList &arguments, int failureCode)
{
    // Only one blocking run at a time: one that outlived its wait has
    // already been given up on, so it is ended rather than waited for.
    m_stopStaleStage();
    m_commonProcess->setArguments(arguments);
    m_commonProcess->start(QIODevice::ReadWrite);
    const bool finished = m_commonProcess->waitForFinished(STAGE_WAIT_MSEC);
    if (finished && m_commonProcess->exitStatus() == QProcess::NormalExit)
        return m_commonProcess->exitCode();

    QString reason;
    if (m_commonProcess->error() == QProcess::FailedToStart)
        reason = QStringLiteral("could not be started: ") + m_commonProcess->errorString();
    else if (finished)
        reason = QStringLiteral("crashed");
    else
        reason = QStringLiteral("did not finish within %1 ms").arg(STAGE_WAIT_MSEC);
    m_logger.error(QStringLiteral("%1 %2 %3, taken as exit code %4")
                           .arg(SERVICE_SCRIPT_PATH, arguments.join(QLatin1Char(' ')), reason)
                           .arg(failureCode));
    return failureCode;
}

int Daemon::checkUpdatesByScript()
{
    // Without a real answer there is nothing known to upgrade.
    const int exitCode = m_runStage({STAGE_UPDATE, QString::number(m_allReposPolicy)}, 0);
    m_logger.debug(QStringLiteral("int Daemon::checkUpdatesByScript()"), QStringLiteral("exitCode"),
                   exitCode);
    return exitCode;
}

int Daemon::getDownloadResult()
{
    m_logger.debug(QStringLiteral("int Daemon::getDownloadResult()"));
    return m_runStage({STAGE_DOWNRESULT}, STAGE_FAILED);
}

int Daemon::cleanCacheByScript()
{
    const QString where = QStringLiteral("int Daemon::cleanCacheByScript()");
    m_logger.debug(where, QStringLiteral("clean cache"));
    const int exitCode = m_runStage({STAGE_CLEAN}, STAGE_FAILED);
    m_logger.debug(where, QStringLiteral("clean cache finished"));
    return exitCode;
}

int Daemon::execScriptsByScript(Stage stage, SubStage subStage, Stage prevStage)
{
    const QString where = QStringLiteral("int Daemon::execScriptsByScript(Stage, SubStage, Stage)");
    QStringList arguments {STAGE_EXEC_SCRIPTS, QString::number(int(stage)),
                           QString::number(int(subStage))};
    if (prevStage == Stage::FakeStage) {
        m_logger.debug(where, QStringLiteral("prevStage == Stage::FakeStage"));
    } else {
        m_logger.debug(where, QStringLiteral("prevStage != Stage::FakeStage"));
        arguments << QString::number(int(prevStage));
    }
    m_logger.debug(where, QStringLiteral("args = %1").arg(arguments.join(QLatin1Char(','))));
    return m_runStage(arguments, STAGE_FAILED);
}
