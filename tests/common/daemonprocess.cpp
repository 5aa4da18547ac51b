// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "daemonprocess.h"

#include "sandbox.h"
#include "waituntil.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace {
const char *const LOG_FILE = "/var/log/kirta-update-service/service.log";
const int LOG_TAIL_LINES = 60;

// A test killed by its time limit never runs the destructor: its daemon
// would live on, keep the instance guard and fail every later daemon test.
// Its own process group lets a kill reach the copies a fork strands, see
// endStrandedCopies().
class DaemonChild : public QProcess
{
protected:
    void setupChildProcess() override
    {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    }
};
} // namespace

DaemonProcess::DaemonProcess(const QString &program)
    : m_process(std::make_unique<DaemonChild>())
    , m_environment(QProcessEnvironment::systemEnvironment())
{
    m_process->setProgram(program);
}

DaemonProcess::~DaemonProcess()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << "Daemon" << m_process->program() << diagnostics();
    if (m_process->state() != QProcess::NotRunning)
        kill();
}

QString DaemonProcess::defaultProgram()
{
    QString dir = QString::fromLocal8Bit(qgetenv("KIRTA_BIN_DIR"));
    if (dir.isEmpty())
        dir = QStringLiteral(KIRTA_DEFAULT_BIN_DIR);
    return QDir(dir).filePath(QStringLiteral("kirta-update-daemon"));
}

void DaemonProcess::setEnvironmentValue(const QString &name, const QString &value)
{
    m_environment.insert(name, value);
}

void DaemonProcess::unsetEnvironmentValue(const QString &name)
{
    m_environment.remove(name);
}

void DaemonProcess::setWorkingDirectory(const QString &dir)
{
    m_process->setWorkingDirectory(dir);
}

bool DaemonProcess::start(int timeoutMs)
{
    if (m_process->state() != QProcess::NotRunning)
        return false;
    m_stdout.clear();
    m_stderr.clear();
    m_process->setProcessEnvironment(m_environment);
    m_process->start(QIODevice::ReadOnly);
    const bool started = m_process->waitForStarted(timeoutMs);
    m_group = started ? m_process->processId() : 0;
    return started;
}

bool DaemonProcess::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

qint64 DaemonProcess::pid() const
{
    return m_process->processId();
}

int DaemonProcess::waitForExit(int timeoutMs)
{
    if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(timeoutMs)) {
        collectOutput();
        return STILL_RUNNING;
    }
    collectOutput();
    if (m_process->exitStatus() == QProcess::CrashExit)
        return CRASHED;
    return m_process->exitCode();
}

QProcess::ExitStatus DaemonProcess::exitStatus() const
{
    return m_process->exitStatus();
}

bool DaemonProcess::terminate(int timeoutMs)
{
    if (m_process->state() == QProcess::NotRunning)
        return true;
    m_process->terminate();
    if (m_process->waitForFinished(timeoutMs)) {
        collectOutput();
        endStrandedCopies();
        return true;
    }
    return kill(timeoutMs);
}

bool DaemonProcess::kill(int timeoutMs)
{
    if (m_process->state() == QProcess::NotRunning)
        return true;
    m_process->kill();
    const bool gone = m_process->waitForFinished(timeoutMs);
    collectOutput();
    if (gone)
        endStrandedCopies();
    return gone;
}

void DaemonProcess::endStrandedCopies()
{
    // On some machines (this project's build machine among them) Qt's fork
    // makes the child wait for its parent's go-ahead before it runs
    // anything. A daemon
    // killed in that moment leaves a copy of itself waiting for ever: it
    // keeps the daemon's bus connection and every inherited file (a test
    // lock taken with flock among them). The daemon's own programs move to
    // groups of their own before they start, so its group holds only such
    // copies once it has ended.
    if (m_group > 1)
        ::kill(pid_t(-m_group), SIGKILL);
    m_group = 0;
}

void DaemonProcess::collectOutput()
{
    // Output is buffered only as the event loop sees it; take what already
    // sits in the pipes too, so it is never older than the log.
    if (m_process->state() == QProcess::Running)
        m_process->waitForReadyRead(0);
    m_stdout += m_process->readAllStandardOutput();
    m_stderr += m_process->readAllStandardError();
}

QByteArray DaemonProcess::standardOutput()
{
    collectOutput();
    return m_stdout;
}

QByteArray DaemonProcess::standardError()
{
    collectOutput();
    return m_stderr;
}

QString DaemonProcess::logFilePath()
{
    return SandboxTree().path(QLatin1String(LOG_FILE));
}

QString DaemonProcess::logText()
{
    return SandboxTree().readFile(QLatin1String(LOG_FILE));
}

bool DaemonProcess::waitForLog(const QString &text, int timeoutMs, int from)
{
    return waitUntil([&] { return logText().mid(from).contains(text); }, timeoutMs);
}

bool DaemonProcess::waitForLog(const QRegularExpression &pattern, int timeoutMs, int from)
{
    return waitUntil([&] { return pattern.match(logText().mid(from)).hasMatch(); }, timeoutMs);
}

bool DaemonProcess::watchesFile(const QString &filePath) const
{
    const qint64 processId = pid();
    struct stat info;
    if (processId <= 0 || ::stat(QFile::encodeName(filePath).constData(), &info) != 0)
        return false;
    const QString inode = QStringLiteral("ino:%1 ").arg(quint64(info.st_ino), 0, 16);
    const QDir fdInfo(QStringLiteral("/proc/%1/fdinfo").arg(processId));
    for (const QString &entry : fdInfo.entryList(QDir::Files)) {
        QFile file(fdInfo.filePath(entry));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // One line per watch: "inotify wd:1 ino:1f2e sdev:... mask:...".
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("inotify ") && QString::fromLatin1(line).contains(inode))
                return true;
        }
    }
    return false;
}

QString DaemonProcess::diagnostics()
{
    QString text;
    if (isRunning())
        text = QStringLiteral("daemon running (pid %1)").arg(pid());
    else if (m_process->exitStatus() == QProcess::CrashExit)
        text = QStringLiteral("daemon ended by a signal");
    else
        text = QStringLiteral("daemon exited with %1").arg(m_process->exitCode());
    text += QStringLiteral("\n--- stderr ---\n") + QString::fromLocal8Bit(standardError());
    QStringList lines = logText().split(QLatin1Char('\n'));
    if (lines.size() > LOG_TAIL_LINES)
        lines = lines.mid(lines.size() - LOG_TAIL_LINES);
    text += QStringLiteral("--- log tail ---\n") + lines.join(QLatin1Char('\n'));
    return text;
}
