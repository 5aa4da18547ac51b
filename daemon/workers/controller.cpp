// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "controller.h"

#include "childprocess.h"
#include "constants.h"

#include <QThread>

Controller::Controller(QThread *thread)
    : QObject(nullptr)
    , m_thread(thread)
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &Controller::doImitation);
    // Deferred deletes posted from finished() are still run on the thread.
    connect(thread, &QThread::finished, this, &QObject::deleteLater);
}

Controller::~Controller() = default;

void Controller::setArgs(const QStringList &args)
{
    m_args = args;
}

void Controller::setDefaultMode(bool value)
{
    m_defaultMode = value;
}

void Controller::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}

int Controller::timeoutMs() const
{
    return m_timeoutMs;
}

QStringList Controller::commandArguments() const
{
    QStringList arguments {QStringLiteral("-n"), QStringLiteral("-A")};
    if (m_args.isEmpty())
        arguments << QStringLiteral("-T") << QStringLiteral("-r");
    else
        arguments << m_args;
    if (!m_defaultMode)
        arguments << QStringLiteral("-S");
    return arguments;
}

void Controller::doImitation()
{
    const int result = m_run();
    if (m_thread)
        m_thread->exit(result);
    emit processFinished(result);
}

int Controller::m_run()
{
    delete m_process;
    m_process = new ChildProcess(this);
    m_process->setProgram(IMITATION_PROGRAM_PATH);
    m_process->setArguments(commandArguments());
    switch (m_process->run(m_timeoutMs)) {
    case ChildProcess::Ending::Exited:
        return m_process->exitCode();
    case ChildProcess::Ending::Crashed:
        return RESULT_CRASHED;
    default:
        return RESULT_NOT_FINISHED;
    }
}
