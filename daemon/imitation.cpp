// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "controller.h"
#include "daemon.h"
#include "settingscontroller.h"
#include "spacechecker.h"

#include <QThread>

void Daemon::tryToPassFirstBlock()
{
    m_firstBlockScheduled = false;
    m_logger.info(QStringLiteral("Trying to pass the first block..."));
    // One imitation at a time: the running one ends in its own result, and
    // a pass arms the upgrade whoever asked for it.
    if (m_imitationThread && m_imitationThread->isRunning()) {
        m_logger.info(QStringLiteral("An update imitation is already running"));
        return;
    }
    m_progress.setError(ErrorNumber::None);
    execScriptsByScript(Stage::FirstBlock, SubStage::Before, Stage::FakeStage);
    const int policy = m_settingsController->params().free_space_policy.second;
    SpaceChecker checker(&m_logger);
    checker.setStrategy(policy, m_allReposPolicy);
    if (checker.check()) {
        startUpdateImitation();
        return;
    }
    m_logger.error(QStringLiteral("Error: Free space checking failed"));
    m_progress.setError(ErrorNumber::FreeSpace);
    m_progress.setFirstBlockPassed(false);
    doActionOnError();
}

void Daemon::startUpdateImitation()
{
    m_logger.info(QStringLiteral("Start update imitation"));
    auto *thread = new QThread(this);
    auto *controller = new Controller(thread);
    m_imitationThread = thread;
    m_controller = controller;
    controller->setArgs(getArgsForRepos(m_allReposPolicy));
    controller->setDefaultMode(m_settingsController->params().free_space_policy.second
                               == toInt(FreeSpacePolicy::CheckDefaultMode));
    connect(controller, &Controller::processFinished, this, &Daemon::getImitationResult);

    // The worker delivers one result, ends its thread and deletes itself;
    // the finished thread is released here. The members only ever point at
    // the newest pair.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(controller, &QObject::destroyed, this, [this, controller] {
        if (m_controller == controller)
            m_controller = nullptr;
    });
    connect(thread, &QObject::destroyed, this, [this, thread] {
        if (m_imitationThread == thread)
            m_imitationThread = nullptr;
    });
    thread->start(QThread::InheritPriority);
}

int Daemon::getImitationResult(int res)
{
    const QString where = KIRTA_WHERE;
    m_logger.info(QStringLiteral("imitation result: %1").arg(res));
    if (res != 0) {
        m_logger.error(QStringLiteral("Imitation error"));
        m_progress.setFirstBlockPassed(false);
        m_progress.setError(ErrorNumber::Imitation);
        doActionOnError();
        return 0;
    }
    m_logger.debug(where, QStringLiteral("res == 0"));
    m_progress.setFirstBlockPassed(true);
    execScriptsByScript(Stage::FirstBlock, SubStage::After, Stage::FakeStage);
    enableUpgradeOnReboot();
    resetRetryTimeStamp();
    // A failed arm has undone itself: there is no upgrade to freeze for.
    if (m_progress.error() != toInt(ErrorNumber::ArmingFailed))
        makeConfigCopy();
    return 0;
}

void Daemon::resetRetryTimeStamp()
{
    m_logger.debug(KIRTA_WHERE);
    Params params = m_settingsController->params();
    if (!params.retry_time_stamp.first)
        return;
    params.retry_time_stamp = {false, QDateTime()};
    m_settingsController->setParams(params);
    m_settingsController->sync();
}
