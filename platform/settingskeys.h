// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// The vocabulary of the daemon's configuration file, shared by the
// parameter store and the daemon.
extern const QString KEY_T_CHECK;
extern const QString KEY_T_DOWNLOAD_MIN;
extern const QString KEY_T_DOWNLOAD_MAX;
extern const QString KEY_T_RETRY;
extern const QString KEY_T_END_CHECK;
extern const QString KEY_T_DELAY;
extern const QString KEY_T_END;
extern const QString KEY_ACTION_ON_ERROR;
extern const QString KEY_SNAPSHOT;
extern const QString KEY_ALWAYS_NEW_UPDATE;
extern const QString KEY_FREE_SPACE_POLICY;
extern const QString KEY_USE_SOURCES_LIST_D;
extern const QString KEY_HOST_TO_PING;
extern const QString KEY_HOST_TO_PING_LOWER;
extern const QString KEY_EXTRA_REPOS;
extern const QString KEY_EXTRA_REPOS_POLICY;
extern const QString KEY_LOG_LEVEL;
extern const QString KEY_METRICS_FILE;
extern const QString KEY_REBOOT_LOCK;
extern const QString KEY_REBOOT_LOCK_SERVERS;
extern const QString KEY_REBOOT_LOCK_GROUP;
extern const QString KEY_REBOOT_LOCK_ID;
extern const QString KEY_REBOOT_LOCK_SLOTS;
extern const QString KEY_REBOOT_LOCK_USER;
extern const QString KEY_REBOOT_LOCK_PASSWORD_FILE;
extern const QString KEY_REBOOT_LOCK_CA_FILE;
extern const QString KEY_DOWNLOAD_ON_METERED;
extern const QString KEY_BATTERY_MIN_PERCENT;
extern const QString KEY_T_HEALTH_SETTLE;
extern const QString KEY_HEALTH_ROLLBACK;
extern const QString KEY_RESTART_POLICY;
extern const QString KEY_MAINTENANCE_WINDOWS;
extern const QString KEY_RESTART_ANNOUNCE;
extern const QString KEY_RESTART_MIN_BATTERY;
extern const QString ACTION_RETRY;
extern const QString ACTION_RESET;
extern const QString ACTION_STOP;
extern const QString DEFAULT_HOST_TO_PING;
