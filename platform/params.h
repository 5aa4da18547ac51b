// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <ratio>
#include <utility>

// The settings record of the configuration file. Every field pairs a
// presence flag (`first`: the file holds a usable value) with the value.
struct Params
{
    std::pair<bool, int> t_check {false, 0};
    std::pair<bool, int> t_download_min {false, 0};
    std::pair<bool, int> t_download_max {false, 0};
    std::pair<bool, int> t_retry {false, 0};
    std::pair<bool, int> t_end_check {false, 0};
    std::pair<bool, int> t_delay {false, 0};
    std::pair<bool, int> action_on_error {false, 0};
    std::pair<bool, bool> snapshot {false, false};
    std::pair<bool, bool> always_new_update {false, false};
    std::pair<bool, int> free_space_policy {false, 0};
    std::pair<bool, int> use_sources_list_d {false, 0};
    std::pair<bool, QString> host_to_ping {false, QString()};
    std::pair<bool, QDateTime> upgrade_time_stamp {false, QDateTime()};
    std::pair<bool, QString> extra_repos {false, QString()};
    std::pair<bool, int> extra_repos_policy {false, 0};
    std::pair<bool, QString> log_level {false, QString()};
    std::pair<bool, QDateTime> retry_time_stamp {false, QDateTime()};
    std::pair<bool, QString> metrics_file {false, QString()};
    // The reboot lock of a fleet (see daemon/fleet/rebootlockfactory.h).
    // Initialized to the defaults, so a record that never names these keys
    // equals one loaded from a file without them.
    std::pair<bool, QString> reboot_lock {false, QStringLiteral("none")};
    std::pair<bool, QString> reboot_lock_servers {false, QString()};
    std::pair<bool, QString> reboot_lock_group {false, QStringLiteral("default")};
    std::pair<bool, QString> reboot_lock_id {false, QString()};
    std::pair<bool, int> reboot_lock_slots {false, 1};
    std::pair<bool, QString> reboot_lock_user {false, QString()};
    std::pair<bool, QString> reboot_lock_password_file {false, QString()};
    std::pair<bool, QString> reboot_lock_ca_file {false, QString()};
    std::pair<bool, bool> download_on_metered {false, false};
    std::pair<bool, int> battery_min_percent {false, 0};
    std::pair<bool, int> t_health_settle {false, 0};
    std::pair<bool, bool> health_rollback {false, false};
    // The automatic restart into an armed upgrade: policy word, windows,
    // minutes of notice for people logged in, least battery charge (%).
    std::pair<bool, QString> restart_policy {false, QString()};
    std::pair<bool, QString> maintenance_windows {false, QString()};
    std::pair<bool, int> restart_announce {false, 0};
    std::pair<bool, int> restart_min_battery {false, 0};

    // The durations above with their units, for the parts that wait on them.
    using Days = std::chrono::duration<qint64, std::ratio<86400>>;
    std::chrono::minutes checkPeriod() const { return std::chrono::minutes(t_check.second); }
    std::chrono::minutes downloadDelayMin() const
    {
        return std::chrono::minutes(t_download_min.second);
    }
    std::chrono::minutes downloadDelayMax() const
    {
        return std::chrono::minutes(t_download_max.second);
    }
    std::chrono::hours retryDelay() const { return std::chrono::hours(t_retry.second); }
    std::chrono::minutes deadlineCheckPeriod() const
    {
        return std::chrono::minutes(t_end_check.second);
    }
    Days deadlineDelay() const { return Days(t_delay.second); }
    std::chrono::minutes healthSettleTimeout() const
    {
        return std::chrono::minutes(t_health_settle.second);
    }
    std::chrono::minutes restartAnnounce() const
    {
        return std::chrono::minutes(restart_announce.second);
    }

    bool operator==(const Params &other) const;
    bool operator!=(const Params &other) const { return !(*this == other); }
};
