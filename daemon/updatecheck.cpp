// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "aptkiller.h"
#include "childprocess.h"
#include "constants.h"
#include "daemon.h"
#include "packagemanager.h"
#include "settingscontroller.h"
#include "updatevalidatormanager.h"

#include <QScopeGuard>

#include <memory>

void Daemon::checkUpdates()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where,
                   QStringLiteral("now we will check updates, state = %1").arg(m_progress.task()));
    switch (CurrentTask(m_progress.task())) {
    case CurrentTask::Unknown:
    case CurrentTask::WaitingForConnection:
    case CurrentTask::WaitingForUpdates:
    case CurrentTask::DownloadCompleted:
        break;
    case CurrentTask::Error:
        // Only a failed clean leaves the cycle here; each periodic check
        // tries it again until it succeeds.
        if (!m_retryFailedClean())
            return;
        break;
    default:
        return;
    }

    m_check->pause();
    const auto resume = qScopeGuard([this] { m_check->resume(); });
    m_logger.debug(where, QStringLiteral("now we really start checking updates"));

    if (!checkConnection()) {
        setLogicalTask(CurrentTask::WaitingForUpdates);
        m_logger.debug(where, QStringLiteral("m_logicalTask = CurrentTask::WaitingForUpdates"));
        return;
    }
    m_logger.debug(where, QStringLiteral("connection checked"));
    const int result = checkUpdatesByScript();
    m_logger.debug(where, QStringLiteral("checkeng result = %1").arg(result));

    {
        const UpdateValidatorManager validators(std::make_shared<Logger>(m_logger),
                                                getArgsForRepos(m_allReposPolicy));
        if (!validators.check()) {
            m_progress.setError(ErrorNumber::Validators);
            doActionOnError();
            return;
        }
    }

    m_check->markSuccess(QDateTime::currentDateTime());
    if (result == 0) {
        m_logger.debug(where, QStringLiteral("NO PACKAGES"));
        if (!(m_progress.task() == toInt(CurrentTask::DownloadCompleted) && m_progress.isArmed())) {
            setTask(CurrentTask::WaitingForUpdates);
            m_check->forget();
        }
        if (m_check->startIfIdle())
            m_logger.debug(where, QStringLiteral("m_checkUpdatesTimer is not active"));
    } else {
        m_logger.debug(where, QStringLiteral("ELSE"));
        if (areThereNewPackages()) {
            m_logger.debug(where, QStringLiteral("areThereNewPackages"));
            if (m_settingsController->params().always_new_update.second) {
                m_logger.debug(where, QStringLiteral("always_new_update = true"));
                cleanCacheByScript();
            }
            m_downloadNowOrLater(where);
        }
    }
    manageStatusFile();
}

bool Daemon::m_retryFailedClean()
{
    m_logger.info(QStringLiteral("The last cache clean failed, cleaning again"));
    if (cleanCacheByScript() != 0) {
        m_logger.error(QStringLiteral("The cache clean failed again, next try at the next check"));
        m_check->startIfIdle();
        return false;
    }
    setTask(CurrentTask::WaitingForUpdates);
    return true;
}

const QStringList Daemon::getUpgradableList()
{
    m_logger.debug(KIRTA_WHERE);
    ChildProcess process;
    process.setProgram(APT_PATH);
    process.setArguments(QStringList {QStringLiteral("list"), QStringLiteral("--upgradable")}
                         + getArgsForRepos(m_allReposPolicy));
    process.run(30000);
    QByteArray output = process.readAllStandardOutput();
    const int nul = output.indexOf('\0');
    if (nul >= 0)
        output.truncate(nul);
    return QString::fromUtf8(output).split(QLatin1Char('\n'));
}

bool Daemon::areThereNewPackages()
{
    const QString where = KIRTA_WHERE;
    return m_check->takeIfNew(getUpgradableList(), where);
}

int Daemon::fillMinorUpdateVersion()
{
    const QString where = KIRTA_WHERE;
    const QString candidate = ZunAdmin::PackageManager(&m_logger).getCandidatePackageVersion(
            QStringLiteral("kirta-version"), getArgsForRepos(m_allReposPolicy));
    m_logger.debug(where, QStringLiteral("m_availUpdateVersion = ") + candidate);
    m_check->setRelease(UpdateCheck::minorRelease(candidate));
    m_logger.debug(where, QStringLiteral("m_availUpdateVersion = ") + m_check->release());
    return 0;
}

void Daemon::setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce)
{
    m_setNoUpdates(checkNow, stopChecking, suppressForce, true);
}

void Daemon::m_setNoUpdates(bool checkNow, bool stopChecking, bool suppressForce, bool breakLock)
{
    const QString where = KIRTA_PLACE("void Daemon::setNoUpdates(bool, bool, bool)");
    m_logger.debug(where);
    if (!suppressForce) {
        m_logger.debug(where, QStringLiteral("suppressForce = false"));
        if (isUpgradeCanBeDisabled() == toInt(DisarmCheck::ForcedArmed)) {
            m_logger.debug(where, QStringLiteral("res != 0"));
            return;
        }
    }
    // A failed arm is about the update dropped here; kept, it would turn this
    // stop into "stopped" and keep a major-release check from resuming.
    if (m_progress.error() == toInt(ErrorNumber::ArmingFailed))
        m_progress.setError(ErrorNumber::None);
    if (m_clock->hasWatch(CycleClock::Watch::Deadline)) {
        m_logger.debug(where, QStringLiteral("m_checkTEndTimer != nullptr"));
        m_clock->haltWatch(CycleClock::Watch::Deadline);
    }
    if (m_clock->hasWatch(CycleClock::Watch::Retry)) {
        m_logger.debug(where, QStringLiteral("m_checkRetryTimeStampTimer != nullptr"));
        m_clock->haltWatch(CycleClock::Watch::Retry);
    }
    m_check->forget();
    m_download->drop();
    disableUpgradeOnReboot(suppressForce);
    if (suppressForce) {
        Params params = m_settingsController->params();
        params.upgrade_time_stamp.second = QDateTime();
        params.retry_time_stamp.second = QDateTime();
        m_settingsController->setParams(params);
        m_settingsController->sync();
    }

    if (cleanCacheByScript() != 0) {
        m_logger.debug(where, QStringLiteral("cleanCacheByScript() != 0"));
        setTask(CurrentTask::Error);
    } else {
        m_logger.debug(where, QStringLiteral("cleanCacheByScript() == 0"));
        setTask(CurrentTask::WaitingForUpdates);
    }

    if (stopChecking) {
        m_logger.debug(where, QStringLiteral("stopChecking = true"));
        m_check->stop();
        if (m_progress.task() == toInt(CurrentTask::Error) && breakLock) {
            AptKiller aptKiller(&m_logger, m_ownProcessGroups());
            connect(&aptKiller, &AptKiller::cleanCache, this, &Daemon::cleanCacheByScript);
            aptKiller.killApt();
        }
        if (m_progress.error() > 0) {
            m_logger.debug(where, QStringLiteral("m_currentError > 0"));
            setTask(CurrentTask::Stopped);
        } else {
            m_logger.debug(where, QStringLiteral("m_currentError <= 0"));
            setTask(CurrentTask::StoppedForMajor);
        }
    } else {
        m_logger.debug(where, QStringLiteral("stopChecking = false"));
        if (checkNow) {
            m_logger.debug(where, QStringLiteral("checkNow = true"));
            m_check->stop();
            checkUpdates();
        } else {
            m_logger.debug(where, QStringLiteral("checkNow = false"));
            m_check->start();
        }
    }
    manageStatusFile();
}
