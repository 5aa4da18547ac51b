// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "buscontract.h"

// Where the update daemon answers on the system bus. The tool shares no code
// with the daemon, only the bus contract and the interface file.
namespace DaemonBus {

constexpr const char *SERVICE = BusContract::SERVICE;
constexpr const char *PATH = BusContract::PATH;

} // namespace DaemonBus
