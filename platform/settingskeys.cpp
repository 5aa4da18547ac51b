// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "settingskeys.h"

const QString KEY_T_CHECK = QStringLiteral("T_check");
const QString KEY_T_DOWNLOAD_MIN = QStringLiteral("T_download_min");
const QString KEY_T_DOWNLOAD_MAX = QStringLiteral("T_download_max");
const QString KEY_T_RETRY = QStringLiteral("T_retry");
const QString KEY_T_END_CHECK = QStringLiteral("T_end_check");
const QString KEY_T_DELAY = QStringLiteral("T_delay");
const QString KEY_T_END = QStringLiteral("T_end");
const QString KEY_ACTION_ON_ERROR = QStringLiteral("Action_on_error");
const QString KEY_SNAPSHOT = QStringLiteral("Snapshot");
const QString KEY_ALWAYS_NEW_UPDATE = QStringLiteral("Always_new_update");
const QString KEY_FREE_SPACE_POLICY = QStringLiteral("Free_space_policy");
const QString KEY_USE_SOURCES_LIST_D = QStringLiteral("Use_sources_list_d");
const QString KEY_HOST_TO_PING = QStringLiteral("Host_to_ping");
const QString KEY_HOST_TO_PING_LOWER = QStringLiteral("host_to_ping");
const QString KEY_EXTRA_REPOS = QStringLiteral("Extra_repos");
const QString KEY_EXTRA_REPOS_POLICY = QStringLiteral("Extra_repos_policy");
const QString KEY_LOG_LEVEL = QStringLiteral("Log_level");
const QString KEY_METRICS_FILE = QStringLiteral("Metrics_file");
const QString KEY_REBOOT_LOCK = QStringLiteral("Reboot_lock");
const QString KEY_REBOOT_LOCK_SERVERS = QStringLiteral("Reboot_lock_servers");
const QString KEY_REBOOT_LOCK_GROUP = QStringLiteral("Reboot_lock_group");
const QString KEY_REBOOT_LOCK_ID = QStringLiteral("Reboot_lock_id");
const QString KEY_REBOOT_LOCK_SLOTS = QStringLiteral("Reboot_lock_slots");
const QString KEY_REBOOT_LOCK_USER = QStringLiteral("Reboot_lock_user");
const QString KEY_REBOOT_LOCK_PASSWORD_FILE = QStringLiteral("Reboot_lock_password_file");
const QString KEY_REBOOT_LOCK_CA_FILE = QStringLiteral("Reboot_lock_ca_file");
const QString KEY_DOWNLOAD_ON_METERED = QStringLiteral("Download_on_metered");
const QString KEY_BATTERY_MIN_PERCENT = QStringLiteral("Battery_min_percent");
const QString KEY_T_HEALTH_SETTLE = QStringLiteral("T_health_settle");
const QString KEY_HEALTH_ROLLBACK = QStringLiteral("Health_rollback");
const QString KEY_RESTART_POLICY = QStringLiteral("Restart_policy");
const QString KEY_MAINTENANCE_WINDOWS = QStringLiteral("Maintenance_windows");
const QString KEY_RESTART_ANNOUNCE = QStringLiteral("Restart_announce");
const QString KEY_RESTART_MIN_BATTERY = QStringLiteral("Restart_min_battery");
const QString ACTION_RETRY = QStringLiteral("Retry");
const QString ACTION_RESET = QStringLiteral("Reset");
const QString ACTION_STOP = QStringLiteral("Stop");
const QString DEFAULT_HOST_TO_PING = QStringLiteral("9.9.9.9");
