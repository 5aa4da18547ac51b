// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QString>

// Who this machine is and which group it restarts with, as lock servers
// see it.
namespace FleetIdentity {

// The application id under which FleetLock clients derive their machine's
// lock id, so that servers which map ids to nodes treat this machine like
// any other client of the protocol.
constexpr const char *APP_ID = "de35106b6ec24688b63afddaa156679b";

// The application-specific id of a machine id, the same value systemd's
// sd_id128_get_machine_app_specific() returns: HMAC-SHA256 keyed by the 16
// bytes of the machine id over the 16 bytes of the application id, cut to
// its first 16 bytes, then marked as a random (version 4, variant 1) UUID:
// byte 6 becomes 0x4?, byte 8 becomes 0b10??????. Printed as 32 lowercase
// hex digits. For example machine id 0123456789abcdef0123456789abcdef with
// APP_ID gives 583627a932274834a8ebd99f4ed41c0d.
// Both ids are 32 hex digits (any case, blanks around them ignored); an
// empty result and `error` filled otherwise.
QString appSpecificId(const QByteArray &machineId, const QByteArray &appId, QString *error);

// The lock id derived from /etc/machine-id (under the sandbox root in
// sandbox builds); empty and `error` filled when the file is missing or
// holds no machine id.
QString machineLockId(QString *error);

// Group names lock servers accept: ^[a-zA-Z0-9.-]+$.
bool isValidGroup(const QString &group);

} // namespace FleetIdentity
