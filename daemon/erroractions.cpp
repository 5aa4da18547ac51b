// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

void Daemon::doActionOnError()
{
    const QString where = KIRTA_WHERE;
    const int action = m_settingsController->params().action_on_error.second;
    m_logger.debug(where, QStringLiteral("actionOnError"), action);
    switch (action) {
    case toInt(ErrorAction::Stop):
        m_logger.debug(where, QStringLiteral("Error action: STOP"));
        doStopAction();
        break;
    case toInt(ErrorAction::Reset):
        m_logger.debug(where, QStringLiteral("Error action: RESET"));
        doResetAction();
        break;
    case toInt(ErrorAction::Retry):
        m_logger.debug(where, QStringLiteral("Error action: RETRY"));
        doRetryAction();
        break;
    default:
        break;
    }
}

void Daemon::doStopAction()
{
    m_logger.debug(KIRTA_WHERE);
    setNoUpdates(false, true, false);
}

void Daemon::doResetAction()
{
    m_logger.debug(KIRTA_WHERE);
    // A Reset asked for by the re-check of an earlier Reset (validators
    // refusing again) would nest without end: the clean-up still runs, the
    // next check is left to the timer.
    if (m_progress.value().resetRecheckRunning) {
        m_logger.warning(
                QStringLiteral("Reset again during its own re-check; next check on the timer"));
        setNoUpdates(false, false, false);
        return;
    }
    m_progress.setResetRecheckRunning(true);
    setNoUpdates(true, false, false);
    m_progress.setResetRecheckRunning(false);
}

void Daemon::doRetryAction()
{
    m_logger.debug(KIRTA_WHERE);
    Params params = m_settingsController->params();
    const std::chrono::milliseconds retryDelay = params.retryDelay();
    params.retry_time_stamp = {true, QDateTime::currentDateTime().addMSecs(retryDelay.count())};
    m_logger.debug(KIRTA_WHERE,
                   QStringLiteral("generated retry_time_stamp = %1")
                           .arg(params.retry_time_stamp.second.toString(DATE_TIME_FORMAT)));
    m_settingsController->setParams(params);
    m_settingsController->sync();
    startEndRetryTimer();
}
