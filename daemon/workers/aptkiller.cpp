#include "aptkiller.h"

#include "constants.h"
#include "logger.h"

#include <QProcess>

#include <signal.h>
#include <sys/types.h>

namespace {
const int REAP_TIMEOUT_MS = 5000;
} // namespace

AptKiller::AptKiller(Logger *logger)
    : QObject(nullptr)
    , m_logger(logger)
{ }

void AptKiller::killApt()
{
    const int pid = m_getPid();
    if (pid == -1)
        return;
    if (m_logger)
        m_logger->info(QStringLiteral("terminating %1").arg(pid));
    if (::kill(pid_t(pid), SIGTERM) == 0) {
        emit cleanCache();
        return;
    }
    if (m_logger)
        m_logger->error(QStringLiteral("Failed to terminate %1").arg(pid));
}

void AptKiller::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

int AptKiller::timeoutMs() const
{
    return m_timeoutMs;
}

int AptKiller::m_getPid()
{
    if (m_logger)
        m_logger->debug(QStringLiteral("int AptKiller::m_getPid()"));
    QProcess lsof;
    lsof.setProgram(LSOF_PATH);
    lsof.setArguments({QStringLiteral("-t"), APTCACHE_POINT + QStringLiteral("/lock")});
    lsof.start(QIODevice::ReadWrite);
    // A crashed lsof may have printed half a line: no answer either.
    if (!lsof.waitForFinished(m_timeoutMs) || lsof.exitStatus() == QProcess::CrashExit) {
        if (lsof.state() != QProcess::NotRunning) {
            lsof.kill();
            lsof.waitForFinished(REAP_TIMEOUT_MS);
        }
        if (m_logger)
            m_logger->error(QStringLiteral("Failed to get apt pid"));
        return -1;
    }
    const QString text = QString::fromLocal8Bit(lsof.readAllStandardOutput().constData());
    bool ok = false;
    const int pid = text.trimmed().toInt(&ok);
    // kill() takes 0 and negative ids for whole process groups, the
    // daemon's own among them.
    if (!ok || pid <= 0) {
        if (m_logger)
            m_logger->error(QStringLiteral("Failed to get apt pid: %1").arg(pid));
        return -1;
    }
    return pid;
}
