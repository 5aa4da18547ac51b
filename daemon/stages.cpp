// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"
#include "constants.h"
#include "daemon.h"

#include <algorithm>
#include <unistd.h>

namespace {
constexpr int STAGE_WAIT_MSEC = 30000;
// Stands for "no usable exit code" where a non-zero code means failure.
constexpr int STAGE_FAILED = -1;
} // namespace

void Daemon::m_stopStaleStage()
{
    m_afterReboot->finishRecovery();
    if (m_commonProcess->ending() != ChildProcess::Ending::Running)
        return;
    // The text and place the log has always had for this, whichever run
    // comes next.
    m_logger.debug(KIRTA_PLACE("int Daemon::cleanCacheByScript()"),
                   QStringLiteral("m_commonProcess->state() != QProcess::NotRunning"));
    m_commonProcess->end();
}

int Daemon::m_runStage(const QStringList &arguments, int failureCode)
{
    // Only one blocking run at a time: one that outlived its wait has
    // already been given up on, so it is ended rather than waited for. It
    // is left going until then so that the event loop is not held longer.
    m_stopStaleStage();
    m_commonProcess->setArguments(arguments);
    const ChildProcess::Ending ending
            = m_commonProcess->run(STAGE_WAIT_MSEC, ChildProcess::Overrun::Leave);
    if (ending == ChildProcess::Ending::Exited)
        return m_commonProcess->exitCode();

    m_logger.error(QStringLiteral("%1 %2 %3, taken as exit code %4")
                           .arg(SERVICE_SCRIPT_PATH, arguments.join(QLatin1Char(' ')),
                                m_commonProcess->describe(STAGE_WAIT_MSEC))
                           .arg(failureCode));
    return failureCode;
}

QList<qint64> Daemon::m_ownProcessGroups() const
{
    // Only runs still going: the id of a group or session that has ended may
    // since name someone else's.
    QList<qint64> groups;
    if (m_commonProcess->ending() == ChildProcess::Ending::Running)
        groups << m_commonProcess->processGroup();
    if (m_afterReboot->recoveryGroup() > 0)
        groups << m_afterReboot->recoveryGroup();
    if (m_download->isRunning())
        groups << m_download->run().session;
    // Never the daemon's own group or session, which hold it as well.
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](qint64 group) {
                                    return group <= 1 || group == qint64(::getpgrp())
                                           || group == qint64(::getsid(0));
                                }),
                 groups.end());
    return groups;
}

int Daemon::checkUpdatesByScript()
{
    // Without a real answer there is nothing known to upgrade.
    const int exitCode = m_runStage({STAGE_UPDATE, QString::number(m_allReposPolicy)}, 0);
    m_logger.debug(KIRTA_WHERE, QStringLiteral("exitCode"), exitCode);
    return exitCode;
}

int Daemon::getDownloadResult()
{
    m_logger.debug(KIRTA_WHERE);
    return m_runStage({STAGE_DOWNRESULT}, STAGE_FAILED);
}

int Daemon::cleanCacheByScript()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where, QStringLiteral("clean cache"));
    const int exitCode = m_runStage({STAGE_CLEAN}, STAGE_FAILED);
    m_logger.debug(where, QStringLiteral("clean cache finished"));
    return exitCode;
}

int Daemon::execScriptsByScript(Stage stage, SubStage subStage, Stage prevStage)
{
    const QString where = KIRTA_WHERE;
    QStringList arguments {STAGE_EXEC_SCRIPTS, QString::number(int(stage)),
                           QString::number(int(subStage))};
    if (prevStage == Stage::FakeStage) {
        m_logger.debug(where, QStringLiteral("prevStage == Stage::FakeStage"));
    } else {
        m_logger.debug(where, QStringLiteral("prevStage != Stage::FakeStage"));
        arguments << QString::number(int(prevStage));
    }
    m_logger.debug(where, QStringLiteral("args = %1").arg(arguments.join(QLatin1Char(','))));
    return m_runStage(arguments, STAGE_FAILED);
}
