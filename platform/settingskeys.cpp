// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "settingskeys.h"

#include "configkeys.h"

// The names come from the table of keys, so that a key is spelt in one place.

const QString KEY_T_CHECK = ConfigKeys::nameOf(&Params::t_check);
const QString KEY_T_DOWNLOAD_MIN = ConfigKeys::nameOf(&Params::t_download_min);
const QString KEY_T_DOWNLOAD_MAX = ConfigKeys::nameOf(&Params::t_download_max);
const QString KEY_T_RETRY = ConfigKeys::nameOf(&Params::t_retry);
const QString KEY_T_END_CHECK = ConfigKeys::nameOf(&Params::t_end_check);
const QString KEY_T_DELAY = ConfigKeys::nameOf(&Params::t_delay);
const QString KEY_T_END = ConfigKeys::nameOf(&Params::upgrade_time_stamp);
const QString KEY_ACTION_ON_ERROR = ConfigKeys::nameOf(&Params::action_on_error);
const QString KEY_SNAPSHOT = ConfigKeys::nameOf(&Params::snapshot);
const QString KEY_ALWAYS_NEW_UPDATE = ConfigKeys::nameOf(&Params::always_new_update);
const QString KEY_FREE_SPACE_POLICY = ConfigKeys::nameOf(&Params::free_space_policy);
const QString KEY_USE_SOURCES_LIST_D = ConfigKeys::nameOf(&Params::use_sources_list_d);
const QString KEY_HOST_TO_PING = ConfigKeys::nameOf(&Params::host_to_ping);
const QString KEY_HOST_TO_PING_LOWER = QStringLiteral("host_to_ping");
const QString KEY_EXTRA_REPOS = ConfigKeys::nameOf(&Params::extra_repos);
const QString KEY_EXTRA_REPOS_POLICY = ConfigKeys::nameOf(&Params::extra_repos_policy);
const QString KEY_LOG_LEVEL = ConfigKeys::nameOf(&Params::log_level);
const QString KEY_METRICS_FILE = ConfigKeys::nameOf(&Params::metrics_file);
const QString KEY_REBOOT_LOCK = ConfigKeys::nameOf(&Params::reboot_lock);
const QString KEY_REBOOT_LOCK_SERVERS = ConfigKeys::nameOf(&Params::reboot_lock_servers);
const QString KEY_REBOOT_LOCK_GROUP = ConfigKeys::nameOf(&Params::reboot_lock_group);
const QString KEY_REBOOT_LOCK_ID = ConfigKeys::nameOf(&Params::reboot_lock_id);
const QString KEY_REBOOT_LOCK_SLOTS = ConfigKeys::nameOf(&Params::reboot_lock_slots);
const QString KEY_REBOOT_LOCK_USER = ConfigKeys::nameOf(&Params::reboot_lock_user);
const QString KEY_REBOOT_LOCK_PASSWORD_FILE
        = ConfigKeys::nameOf(&Params::reboot_lock_password_file);
const QString KEY_REBOOT_LOCK_CA_FILE = ConfigKeys::nameOf(&Params::reboot_lock_ca_file);
const QString KEY_DOWNLOAD_ON_METERED = ConfigKeys::nameOf(&Params::download_on_metered);
const QString KEY_BATTERY_MIN_PERCENT = ConfigKeys::nameOf(&Params::battery_min_percent);
const QString KEY_T_HEALTH_SETTLE = ConfigKeys::nameOf(&Params::t_health_settle);
const QString KEY_HEALTH_ROLLBACK = ConfigKeys::nameOf(&Params::health_rollback);
const QString KEY_RESTART_POLICY = ConfigKeys::nameOf(&Params::restart_policy);
const QString KEY_MAINTENANCE_WINDOWS = ConfigKeys::nameOf(&Params::maintenance_windows);
const QString KEY_RESTART_ANNOUNCE = ConfigKeys::nameOf(&Params::restart_announce);
const QString KEY_RESTART_MIN_BATTERY = ConfigKeys::nameOf(&Params::restart_min_battery);
const QString ACTION_RETRY = QStringLiteral("Retry");
const QString ACTION_RESET = QStringLiteral("Reset");
const QString ACTION_STOP = QStringLiteral("Stop");
const QString DEFAULT_HOST_TO_PING
        = QLatin1String(ConfigKeys::find(QStringLiteral("Host_to_ping"))->defaultText);
