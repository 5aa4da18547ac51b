// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "params.h"

#include <QString>

class QObject;
class RebootLock;

// The reboot lock the configuration asks for:
//
//   Reboot_lock                none (default), etcd or fleetlock
//   Reboot_lock_servers        fleetlock: the server's base URL; etcd: the
//                              cluster's client URLs, comma-separated
//   Reboot_lock_group          default "default"; ^[a-zA-Z0-9.-]+$
//   Reboot_lock_id             default: derived from /etc/machine-id
//   Reboot_lock_slots          etcd: slots of a group record made here (1)
//   Reboot_lock_user           etcd: user to log in as; empty: no login
//   Reboot_lock_password_file  etcd: file holding that user's password
//   Reboot_lock_ca_file        PEM certificates trusted besides the system's
//
// Paths are used as written, like the configuration's other paths.
namespace RebootLockFactory {

// nullptr with an empty `error` when no lock is configured; nullptr with
// `error` saying what is wrong when the configuration cannot make one
// (a machine that must take a lock must not restart without it, so the
// caller treats this as "waiting"). Creating a lock sends nothing.
RebootLock *create(const Params &params, QObject *parent, QString *error);

} // namespace RebootLockFactory
