// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "script.h"

#include "logger.h"

Script::Script(const QString &program, Logger *logger)
    : m_logger(logger)
{
    m_process.setProgram(program);
}

Script::~Script() = default;

int Script::run(const QStringList &arguments)
{
    const QString command
            = QStringLiteral("%1 %2").arg(m_process.program(), arguments.join(QLatin1Char(' ')));
    // Nothing of an earlier run may leak into this one's answer.
    if (m_process.isOpen()) {
        m_process.readAllStandardOutput();
        m_process.readAllStandardError();
    }

    m_process.setArguments(arguments);
    // A run that outlives its bound is ended with its group at once, so a
    // hanging program never answers a later question.
    switch (m_process.run(m_timeoutMs)) {
    case ChildProcess::Ending::Exited:
        break;
    case ChildProcess::Ending::Crashed:
        if (m_logger) {
            const QString stdErr
                    = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
            m_logger->error(QStringLiteral("%1 exit with error %2").arg(command, stdErr));
        }
        return 0;
    default:
        if (m_logger)
            m_logger->error(QStringLiteral("%1 failed to finish").arg(command));
        return 0;
    }
    const int code = m_process.exitCode();
    if (m_logger)
        m_logger->info(QStringLiteral("%1 exited with code %2").arg(command).arg(code));
    return code;
}

bool Script::snapshotManagerInstalled()
{
    return m_exitCodeToBool(run({QStringLiteral("snapshot_manager_installed")}));
}

bool Script::automatizationEnabled()
{
    return m_exitCodeToBool(run({QStringLiteral("automatization_enabled")}));
}

bool Script::isEnoughFreeSpace(int reposPolicy)
{
    return m_exitCodeToBool(
            run({QStringLiteral("is_enough_free_space"), QString::number(reposPolicy)}));
}

int Script::getFsType()
{
    return run({QStringLiteral("get_fs_type")});
}

QString Script::program() const
{
    return m_process.program();
}

void Script::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

int Script::timeoutMs() const
{
    return m_timeoutMs;
}

bool Script::m_exitCodeToBool(int code)
{
    switch (code) {
    case 0:
        return false;
    case 1:
        return true;
    default:
        if (m_logger)
            m_logger->error(QStringLiteral("%1: Error executing script").arg(KIRTA_WHERE));
        return false;
    }
}
