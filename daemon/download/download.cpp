// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "download.h"

#include "logger.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <unistd.h>

Download::Download(const Logger &logger, const QString &program, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_program(program)
    , m_poll(new QTimer(this))
{
    m_poll->setInterval(POLL_MSEC);
    connect(m_poll, &QTimer::timeout, this, &Download::pollDue);
}

QString Download::start(const QStringList &arguments, const QString &where)
{
    m_poll->start();
    // A process of its own: the stage runner may still hold a run that
    // outlived its wait, and a running QProcess keeps its old arguments.
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(arguments);
    qint64 pid = -1;
    if (process.startDetached(&pid)) {
        m_logger.debug(where, QStringLiteral("m_commonProcess->startDetached(&m_pid) return true"));
        m_run = DetachedRun::of(pid);
        return QString();
    }
    m_logger.debug(where, QStringLiteral("m_commonProcess->startDetached(&m_pid) return false"));
    m_run = DetachedRun();
    m_poll->stop();
    // QProcess keeps no reason for a failed detached start; the usual ones
    // (gone, not executable) the system tells.
    const QString reason = ::access(QFile::encodeName(m_program).constData(), X_OK) == 0
                                   ? process.errorString()
                                   : QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("%1 %2: %3").arg(m_program, arguments.join(QLatin1Char(' ')), reason);
}

Download::Poll Download::poll(const QString &where)
{
    if (m_run.pid <= 0) {
        m_logger.debug(where, QStringLiteral("m_pid <= 0"));
        m_poll->stop();
        return Poll::NoRun;
    }
    if (m_run.isAlive())
        return Poll::Running;
    m_logger.debug(where, QStringLiteral("m_isDownloadRunning() return false"));
    m_poll->stop();
    return Poll::Ended;
}

void Download::drop()
{
    m_poll->stop();
}

bool Download::isPolling() const
{
    return m_poll->isActive();
}

int Download::pollInterval() const
{
    return m_poll->interval();
}

void Download::setHold(const QString &reason)
{
    if (reason == m_hold)
        return;
    m_hold = reason;
    if (!reason.isEmpty() || !m_heldBack)
        return;
    m_logger.info(QStringLiteral("Download no longer held back"));
    m_heldBack = false;
    emit holdLifted();
}

bool Download::holdsBack(const std::function<bool()> &overridden)
{
    if (m_hold.isEmpty() || overridden()) {
        m_heldBack = false;
        return false;
    }
    if (!m_heldBack)
        m_logger.info(QStringLiteral("Download held back: %1").arg(m_hold));
    m_heldBack = true;
    return true;
}
