// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "firstblock.h"

#include "controller.h"
#include "spacechecker.h"

#include <QThread>
#include <QTimer>

FirstBlock::FirstBlock(Logger &logger, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_timeoutMs(Controller::DEFAULT_TIMEOUT_MS)
{ }

FirstBlock::~FirstBlock()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
    }
}

void FirstBlock::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(SCHEDULE_DELAY_MSEC, this, [this] {
        m_scheduled = false;
        emit due();
    });
}

bool FirstBlock::isScheduled() const
{
    return m_scheduled;
}

bool FirstBlock::isImitating() const
{
    return m_thread && m_thread->isRunning();
}

bool FirstBlock::isUnderWay() const
{
    return m_scheduled || isImitating();
}

bool FirstBlock::hasEnoughSpace(int policy, int reposPolicy)
{
    SpaceChecker checker(&m_logger);
    checker.setStrategy(policy, reposPolicy);
    return checker.check();
}

bool FirstBlock::startImitation(const QStringList &repoArgs, bool defaultMode)
{
    if (isImitating())
        return false;
    auto *thread = new QThread(this);
    auto *controller = new Controller(thread);
    controller->setArgs(repoArgs);
    controller->setDefaultMode(defaultMode);
    controller->setTimeoutMs(m_timeoutMs);
    // Queued to this thread: the facade reads the result where it keeps the
    // progress.
    connect(controller, &Controller::processFinished, this, &FirstBlock::imitationFinished);
    // The worker delivers one result, ends its thread and deletes itself;
    // the finished thread is released here.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QObject::destroyed, this, [this, thread] {
        if (m_thread == thread)
            m_thread = nullptr;
    });
    m_thread = thread;
    thread->start(QThread::InheritPriority);
    return true;
}

void FirstBlock::setImitationTimeoutMs(int ms)
{
    m_timeoutMs = ms;
}
