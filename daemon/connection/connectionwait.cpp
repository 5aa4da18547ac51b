// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "connectionwait.h"

#include "childprocess.h"

#include <QTimer>

ConnectionWait::ConnectionWait(const QString &pingProgram, QObject *parent)
    : QObject(parent)
    , m_pingProgram(pingProgram)
{ }

bool ConnectionWait::probe(const QString &host) const
{
    ChildProcess process;
    process.setProgram(m_pingProgram);
    process.setArguments(
            {host, QStringLiteral("-c3"), QStringLiteral("-i0.2"), QStringLiteral("-W2")});
    return process.run(PING_WAIT_MSEC) == ChildProcess::Ending::Exited && process.exitCode() == 0;
}

bool ConnectionWait::isWaiting() const
{
    return m_retry && m_retry->isActive();
}

void ConnectionWait::begin()
{
    if (!m_retry) {
        m_retry = new QTimer(this);
        connect(m_retry, &QTimer::timeout, this, &ConnectionWait::retryDue);
    }
    if (!m_retry->isActive()) {
        m_retry->setInterval(RETRY_MSEC);
        m_retry->start();
    }
}

void ConnectionWait::end()
{
    if (m_retry)
        m_retry->stop();
}
