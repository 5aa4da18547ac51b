// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "firstblock.h"
#include "settingscontroller.h"

void Daemon::tryToPassFirstBlock()
{
    m_logger.info(QStringLiteral("Trying to pass the first block..."));
    // One imitation at a time: the running one ends in its own result, and
    // a pass arms the upgrade whoever asked for it.
    if (m_firstBlock->isImitating()) {
        m_logger.info(QStringLiteral("An update imitation is already running"));
        return;
    }
    m_progress.setError(ErrorNumber::None);
    execScriptsByScript(Stage::FirstBlock, SubStage::Before, Stage::FakeStage);
    const int policy = m_settingsController->params().free_space_policy.second;
    if (m_firstBlock->hasEnoughSpace(policy, m_allReposPolicy)) {
        m_logger.info(QStringLiteral("Start update imitation"));
        m_firstBlock->startImitation(getArgsForRepos(m_allReposPolicy),
                                     policy == toInt(FreeSpacePolicy::CheckDefaultMode));
        return;
    }
    m_logger.error(QStringLiteral("Error: Free space checking failed"));
    m_progress.setError(ErrorNumber::FreeSpace);
    m_progress.setFirstBlockPassed(false);
    doActionOnError();
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
