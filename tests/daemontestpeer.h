// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "daemon.h"
#include "settingscontroller.h"

#include <QFileSystemWatcher>
#include <QTimer>

// Reaches into a Daemon for in-process tests.
class DaemonTestPeer
{
public:
    explicit DaemonTestPeer(Daemon &daemon)
        : d(daemon)
    { }

    // The progress as it stands, to put a scenario's start in place
    // without the moves that lead there.
    Progress &progress() { return d.m_progress.m_value; }
    int &task() { return progress().task; }
    bool &upgradeEnabled() { return progress().armed; }
    bool &forcedMode() { return progress().forced; }
    bool &firstBlockPassed() { return progress().firstBlockPassed; }
    int &currentError() { return progress().error; }
    QStringList extraRepos() const { return d.m_extraRepos; }
    Logger &logger() { return d.m_logger; }
    SettingsController *settings() const { return d.m_settingsController; }
    UpdateCheck *check() const { return d.m_check; }
    QTimer *checkUpdatesTimer() const { return check()->timer(); }
    CycleClock *clock() const { return d.m_clock; }
    QTimer *checkTEndTimer() const { return clock()->watchTimer(CycleClock::Watch::Deadline); }
    QTimer *checkRetryTimeStampTimer() const
    {
        return clock()->watchTimer(CycleClock::Watch::Retry);
    }
    QFileSystemWatcher *configWatcher() const { return d.m_configWatcher; }
    QTimer *checkConnectionTimer() const { return d.m_connection->retryTimer(); }
    QTimer *downloadUpdatesTimer() const { return clock()->downloadDelayTimer(); }
    Download *download() const { return d.m_download; }
    bool &upgradeMustBeEnabled() { return progress().armWhenComplete; }

private:
    Daemon &d;
};
