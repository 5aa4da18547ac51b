// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "params.h"

#include <tuple>

namespace {
auto fields(const Params &p)
{
    return std::tie(p.t_check, p.t_download_min, p.t_download_max, p.t_retry, p.t_end_check,
                    p.t_delay, p.action_on_error, p.snapshot, p.always_new_update,
                    p.free_space_policy, p.use_sources_list_d, p.host_to_ping, p.upgrade_time_stamp,
                    p.extra_repos, p.extra_repos_policy, p.log_level, p.retry_time_stamp,
                    p.metrics_file, p.download_on_metered, p.battery_min_percent, p.t_health_settle,
                    p.health_rollback, p.restart_policy, p.maintenance_windows, p.restart_announce,
                    p.restart_min_battery);
}

auto rebootLockFields(const Params &p)
{
    return std::tie(p.reboot_lock, p.reboot_lock_servers, p.reboot_lock_group, p.reboot_lock_id,
                    p.reboot_lock_slots, p.reboot_lock_user, p.reboot_lock_password_file,
                    p.reboot_lock_ca_file);
}
} // namespace

bool Params::operator==(const Params &other) const
{
    return fields(*this) == fields(other) && rebootLockFields(*this) == rebootLockFields(other);
}
