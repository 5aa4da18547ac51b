// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"

#include "buscontract.h"

#include "sysroot.h"

// Paths go through Sysroot::path() once, at static initialisation; product
// builds get them exactly as written here.
#define KIRTA_PATH(p) Sysroot::path(QStringLiteral(p))

const QString APP_LOG_DIR = KIRTA_PATH("/var/log/kirta-update-service");
const QString LOG_FILE_PATH = KIRTA_PATH("/var/log/kirta-update-service/service.log");
const QString APP_CACHE_DIR = KIRTA_PATH("/var/cache/kirta-update-service");
const QString SETTINGS_PATH = KIRTA_PATH("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString SETTINGS_COPY_PATH
        = KIRTA_PATH("/var/cache/kirta-update-service/kirta-update-daemon.conf");
// Under /run, which every mount namespace of the machine shares (a unit's
// private /tmp does not), so that the guard holds across the unit boundary.
const QString INSTANCE_LOCK_PATH = KIRTA_PATH("/run/kirta-update-daemon.lock");
const QString SETTINGS_TEMP_PATH = KIRTA_PATH("/tmp/kirta-update-daemon.conf");
const QString SOURCES_DIR = KIRTA_PATH("/var/cache/kirta-update-service/sources");
const QString REPOS_POLICY_PATH = KIRTA_PATH("/var/cache/kirta-update-service/repos_policy");
const QString STATUS_FILE_PATH = KIRTA_PATH("/var/cache/kirta-update-service/status");
const QString TRIGGER_FILE_PATH
        = KIRTA_PATH("/var/cache/kirta-update-service/automatization_trigger");
const QString UPGRADE_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-update-service/upgradable");
const QString SNAPSHOT_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-update-service/snapshot");
const QString MINOR_SUCCESS_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-update-service/successful");
const QString MINOR_FAIL_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-update-service/unsuccessful");
// Written by the offline upgrade when it takes the link, i.e. when it has
// begun to act on the armed upgrade; consumed by the next daemon start.
const QString UPGRADE_RAN_MARK_PATH = KIRTA_PATH("/var/cache/kirta-update-service/upgrade_ran");
const QString REBOOT_LOCK_MARK_PATH
        = KIRTA_PATH("/var/cache/kirta-update-service/reboot-lock-held");
// Written by the offline upgrade when it left the armed upgrade alone for
// lack of power.
const QString POWER_POSTPONED_MARK_PATH
        = KIRTA_PATH("/var/cache/kirta-update-service/postponed_for_power");
// Written by the restart policy before it restarts the machine, naming the
// armed release: a boot that comes back with the same release still armed
// and no word from the offline upgrade must not be restarted again.
const QString RESTARTED_FOR_MARK_PATH = KIRTA_PATH("/var/cache/kirta-update-service/restarted_for");
// The units that had failed when the upgrade was armed, one a line.
const QString FAILED_UNITS_PATH = KIRTA_PATH("/var/cache/kirta-update-service/failed_units");
// The administrator's checks after an upgrade boot.
const QString HEALTH_CHECKS_DIR = KIRTA_PATH("/etc/kirta-update-service/health.d");
// Where the kernel lists the power supplies; the offline upgrade reads it too.
const QString POWER_SUPPLY_CLASS_DIR = KIRTA_PATH("/sys/class/power_supply");
const QString MAJOR_SUCCESS_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-upgrade/successful");
const QString MAJOR_ABORT_STAMP_PATH = KIRTA_PATH("/var/cache/kirta-upgrade/upgrade_aborted");
const QString MAJOR_REPORT_PATH = KIRTA_PATH("/var/cache/kirta-upgrade/upgrade.report.yaml");
const QString APTCACHE_POINT = KIRTA_PATH("/var/cache/apt/archives");
const QString SYS_UPDATE_SYMLINK = KIRTA_PATH("/system-update");

const QString SERVICE_SCRIPT_PATH = KIRTA_PATH("/usr/sbin/kirta-update-service");
const QString APT_PATH = KIRTA_PATH("/usr/bin/apt");
const QString PING_PATH = KIRTA_PATH("/usr/bin/ping");
const QString LSOF_PATH = KIRTA_PATH("/usr/bin/lsof");
const QString IMITATION_PROGRAM_PATH = KIRTA_PATH("/usr/bin/kirta-update-modern");
const QString SNAPSHOTS_MANAGER_PATH = KIRTA_PATH("/usr/sbin/kirta-snapshots-manager");
const QString SYSTEMCTL_PATH = KIRTA_PATH("/usr/bin/systemctl");
const QString MAJOR_UPGRADE_PACKAGE = QStringLiteral("kirta-upgrade");

const QString STAGE_UPDATE = QStringLiteral("update");
const QString STAGE_DOWNLOAD = QStringLiteral("download");
const QString STAGE_DOWNRESULT = QStringLiteral("downresult");
const QString STAGE_CLEAN = QStringLiteral("clean");
const QString STAGE_EXEC_SCRIPTS = QStringLiteral("exec_scripts");
const QString STAGE_RM_SNAPSHOT = QStringLiteral("rm_snapshot");
const QString STAGE_ROLLBACK = QStringLiteral("rollback");

const QString STATUS_KEY = QStringLiteral("status");
const QString TARGET_RELEASE_KEY = QStringLiteral("target_release");

const QString DATE_TIME_FORMAT = QStringLiteral("hh:mm dd.MM.yyyy");

const QString ORGANIZATION_NAME = QStringLiteral("KirtaLinux");
const QString APPLICATION_NAME = QStringLiteral("kirta-update-daemon");
const QString DBUS_SERVICE_NAME = QLatin1String(BusContract::SERVICE);
const QString DBUS_OBJECT_PATH = QLatin1String(BusContract::PATH);
const QString DBUS_INTERFACE_NAME = QLatin1String(BusContract::INTERFACE);
const QString DBUS_STATUS_INTERFACE_NAME = QLatin1String(BusContract::STATUS_INTERFACE);
