// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

// Where the update daemon answers on the system bus. The tool shares no code
// with the daemon, only these names and the interface file.
namespace DaemonBus {

constexpr const char *SERVICE = "os.kirtalinux.zun.kirtaupdateservice";
constexpr const char *PATH = "/os/kirtalinux/zun/kirtaupdateservice";

} // namespace DaemonBus
