// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

#include <limits>

namespace {
QString boolText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

QString Daemon::loadSettings(bool reload)
{
    const QString where = KIRTA_WHERE;
    const Params oldSettings = m_settingsController->params();
    const QString result = m_settingsController->load();
    Params newSettings = m_settingsController->params();

    if (newSettings.log_level.first)
        m_logger.setLevel(newSettings.log_level.second);
    else
        m_logger.setLevel(Logger::Debug);

    m_logger.info(QStringLiteral("Loading settings, reload = %1").arg(boolText(reload)));

    if (reload) {
        if ((oldSettings.downloadDelayMin() != newSettings.downloadDelayMin()
             || oldSettings.downloadDelayMax() != newSettings.downloadDelayMax())
            && m_clock->hasDownloadDelay()) {
            m_logger.debug(where,
                           QStringLiteral("downloadIntervalChanged && m_downloadUpdatesTimer"));
            setDownloadTimerInterval();
        }
        if (oldSettings.checkPeriod() != newSettings.checkPeriod() && m_check) {
            m_logger.debug(where,
                           QStringLiteral("timeToCheckUpdatesChanged && m_checkUpdatesTimer"));
            m_check->setMinutes(*m_clock, newSettings.checkPeriod());
        }
        if (oldSettings.deadlineCheckPeriod() != newSettings.deadlineCheckPeriod()
            && m_clock->hasWatch(CycleClock::Watch::Deadline)) {
            m_logger.debug(where, QStringLiteral("timeToCheckEndDateChanged && m_checkTEndTimer"));
            m_clock->retuneWatch(CycleClock::Watch::Deadline, newSettings.deadlineCheckPeriod());
        }
        if (oldSettings.retryDelay() != newSettings.retryDelay()
            && newSettings.retry_time_stamp.first) {
            const std::chrono::seconds shift = newSettings.retryDelay() - oldSettings.retryDelay();
            newSettings.retry_time_stamp.second
                    = newSettings.retry_time_stamp.second.addSecs(shift.count());
            m_settingsController->setParams(newSettings);
            m_logger.debug(
                    where,
                    QStringLiteral("hoursToRetryChanged && newSettings.retry_time_stamp.first"));
        }
        if (oldSettings.deadlineDelay() != newSettings.deadlineDelay()
            && newSettings.upgrade_time_stamp.first) {
            const Params::Days shift = newSettings.deadlineDelay() - oldSettings.deadlineDelay();
            newSettings.upgrade_time_stamp.second
                    = newSettings.upgrade_time_stamp.second.addDays(shift.count());
            m_settingsController->setParams(newSettings);
            m_logger.debug(
                    where,
                    QStringLiteral("daysToUpgradeChanged && newSettings.upgrade_time_stamp.first"));
        }
    }

    m_logger.debug(where, QStringLiteral("t_download_min"), newSettings.t_download_min.second);
    m_logger.debug(where, QStringLiteral("t_download_max"), newSettings.t_download_max.second);
    m_logger.debug(where, QStringLiteral("t_check"), newSettings.t_check.second);
    m_logger.debug(where, QStringLiteral("t_end_check"), newSettings.t_end_check.second);
    m_logger.debug(where, QStringLiteral("t_retry"), newSettings.t_retry.second);
    m_logger.debug(where, QStringLiteral("old t_delay"), oldSettings.t_delay.second);
    m_logger.debug(where, QStringLiteral("new t_delay"), newSettings.t_delay.second);
    m_logger.debug(where, QStringLiteral("always_new_update = %1")
                                  .arg(boolText(newSettings.always_new_update.second)));
    m_logger.debug(where,
                   QStringLiteral("snapshot = %1").arg(boolText(newSettings.snapshot.second)));
    m_logger.debug(where, QStringLiteral("%1 = %2").arg(KEY_HOST_TO_PING,
                                                        newSettings.host_to_ping.second));
    m_logger.debug(where, QStringLiteral("action_on_error"), newSettings.action_on_error.second);
    m_logger.debug(where, QStringLiteral("use_sources_list_d"),
                   newSettings.use_sources_list_d.second);
    m_logger.debug(where, QStringLiteral("free_space_policy"),
                   newSettings.free_space_policy.second);
    m_logger.debug(where,
                   QStringLiteral("upgrade_time_stamp = ")
                           + newSettings.upgrade_time_stamp.second.toString(DATE_TIME_FORMAT));
    m_logger.debug(where, QStringLiteral("retry_time_stamp = ")
                                  + newSettings.retry_time_stamp.second.toString(DATE_TIME_FORMAT));

    actualizeSnapshotStamp(newSettings.snapshot.second);

    m_followStamp(newSettings.upgrade_time_stamp.first, CycleClock::Watch::Deadline,
                  &Daemon::startTEndTimer, QStringLiteral("m_checkTEndTimer"),
                  QStringLiteral("newSettings.upgrade_time_stamp.first"));
    m_followStamp(newSettings.retry_time_stamp.first, CycleClock::Watch::Retry,
                  &Daemon::startEndRetryTimer, QStringLiteral("m_checkRetryTimeStampTimer"),
                  QStringLiteral("newSettings.retry_time_stamp.first"));

    m_logger.debug(where,
                   QStringLiteral("%1 = %2, %3 = %4, %5 = %6")
                           .arg(KEY_REBOOT_LOCK, newSettings.reboot_lock.second,
                                KEY_REBOOT_LOCK_GROUP, newSettings.reboot_lock_group.second,
                                KEY_REBOOT_LOCK_SERVERS, newSettings.reboot_lock_servers.second));

    parseExtraRepos(newSettings.extra_repos.second);
    m_logger.debug(where, QStringLiteral("extra_repos_policy"),
                   newSettings.extra_repos_policy.second);
    if (newSettings.extra_repos_policy.second == toInt(ExtraReposPolicy::Instead))
        m_allReposPolicy = toInt(ReposPolicy::ExtraOnly);
    else if (newSettings.extra_repos_policy.second == toInt(ExtraReposPolicy::Besides))
        m_allReposPolicy = toInt(ReposPolicy::MainAndExtra);
    if (m_extraRepos.isEmpty())
        m_allReposPolicy = newSettings.use_sources_list_d.second;

    m_settingsController->sync();
    m_logger.debug(where, QStringLiteral("m_allReposPolicy"), m_allReposPolicy);
    manageReposPolicyFile();
    Q_EMIT settingsLoaded(newSettings);
    return result;
}

// While a stamp is set its timer runs: the daemon's own writes of the file
// (deadline, retry stamp) reload the settings moments after they started the
// timer, and stopping it then would lose the deadline. A timer that exists but
// stands still was halted by a stop (setNoUpdates): an edit of the file must
// not revive it inside a stopped daemon, so only the cycle starts it again. A
// load that finds the stamp gone drops the timer, so that a stamp set again
// later gets a running timer.
void Daemon::m_followStamp(bool stampSet, CycleClock::Watch watch, void (Daemon::*startTheTimer)(),
                           const QString &timerName, const QString &stampName)
{
    const QString where = KIRTA_PLACE("QString Daemon::loadSettings(bool)");
    if (stampSet) {
        if (!m_clock->hasWatch(watch)) {
            m_logger.debug(where, stampName + QStringLiteral(" && !") + timerName);
            (this->*startTheTimer)();
        }
    } else if (m_clock->isWatchRunning(watch)) {
        m_logger.debug(where, timerName + QStringLiteral(" && ") + timerName
                                      + QStringLiteral("->isActive()"));
        m_clock->dropWatch(watch);
    }
}

void Daemon::reloadSettings()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (m_progress.value().firstBlockPassed) {
        m_logger.debug(where, QStringLiteral("Config has changed, need to imitate again"));
        m_progress.setFirstBlockPassed(false);
    }
    // Watch the file as it is now before reading it, so that an edit landing
    // while it is read is still noticed.
    rewatchConfigFile();
    loadSettings(true);
}

void Daemon::rewatchConfigFile()
{
    // Editors and atomic writers (the daemon's own sync included) replace the
    // file by a rename; the watch then sits on the old inode or is dropped.
    // A frozen configuration (copy present) stays unwatched.
    if (!m_configWatcher || QFile::exists(SETTINGS_COPY_PATH) || !QFile::exists(SETTINGS_PATH))
        return;
    if (m_configWatcher->files().contains(SETTINGS_PATH))
        m_configWatcher->removePath(SETTINGS_PATH);
    m_configWatcher->addPath(SETTINGS_PATH);
}
