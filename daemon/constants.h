// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "settingskeys.h"

#include <QString>

// Process-wide names of the daemon: files, programs, stage words,
// configuration keys, formats and bus names. Paths are absolute; sandbox
// builds move them under $KIRTA_SYSROOT when the process starts.

// Files and directories
extern const QString APP_LOG_DIR;
extern const QString LOG_FILE_PATH;
extern const QString INSTANCE_LOCK_PATH;
extern const QString APP_CACHE_DIR;
extern const QString SETTINGS_PATH;
extern const QString SETTINGS_COPY_PATH;
extern const QString SETTINGS_TEMP_PATH;
extern const QString SOURCES_DIR;
extern const QString REPOS_POLICY_PATH;
extern const QString STATUS_FILE_PATH;
extern const QString TRIGGER_FILE_PATH;
extern const QString UPGRADE_STAMP_PATH;
extern const QString SNAPSHOT_STAMP_PATH;
extern const QString MINOR_SUCCESS_STAMP_PATH;
extern const QString MINOR_FAIL_STAMP_PATH;
extern const QString UPGRADE_RAN_MARK_PATH;
// Says that this machine holds a slot of its fleet's reboot lock.
extern const QString REBOOT_LOCK_MARK_PATH;
extern const QString POWER_POSTPONED_MARK_PATH;
extern const QString RESTARTED_FOR_MARK_PATH;
extern const QString FAILED_UNITS_PATH;
extern const QString HEALTH_CHECKS_DIR;
extern const QString POWER_SUPPLY_CLASS_DIR;
extern const QString MAJOR_SUCCESS_STAMP_PATH;
extern const QString MAJOR_ABORT_STAMP_PATH;
extern const QString MAJOR_REPORT_PATH;
extern const QString APTCACHE_POINT;
extern const QString SYS_UPDATE_SYMLINK;

// Programs and packages
extern const QString SERVICE_SCRIPT_PATH;
extern const QString APT_PATH;
extern const QString PING_PATH;
extern const QString LSOF_PATH;
extern const QString IMITATION_PROGRAM_PATH;
extern const QString SNAPSHOTS_MANAGER_PATH;
extern const QString SYSTEMCTL_PATH;
extern const QString MAJOR_UPGRADE_PACKAGE;

// Stage words of the stage program
extern const QString STAGE_UPDATE;
extern const QString STAGE_DOWNLOAD;
extern const QString STAGE_DOWNRESULT;
extern const QString STAGE_CLEAN;
extern const QString STAGE_EXEC_SCRIPTS;
extern const QString STAGE_RM_SNAPSHOT;
extern const QString STAGE_ROLLBACK;

// Keys inside other files
extern const QString STATUS_KEY;
extern const QString TARGET_RELEASE_KEY;

// Formats
extern const QString DATE_TIME_FORMAT;

// Application and bus names
extern const QString ORGANIZATION_NAME;
extern const QString APPLICATION_NAME;
extern const QString DBUS_SERVICE_NAME;
extern const QString DBUS_OBJECT_PATH;
extern const QString DBUS_INTERFACE_NAME;
extern const QString DBUS_STATUS_INTERFACE_NAME;
