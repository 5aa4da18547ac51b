// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// Where absolute paths really live.
//
// Product builds use every absolute path as written. Sandbox builds
// (KIRTA_SANDBOX) prefix each one with the directory named by the
// environment variable KIRTA_SYSROOT, so that tests and demos never touch
// the real /etc, /var, /tmp or /system-update. When that variable is
// unusable the prefix is a directory that cannot exist, never "/".
namespace Sysroot {

constexpr const char *ENV_NAME = "KIRTA_SYSROOT";

// True in sandbox builds.
bool isSandbox();

// The sandbox root ("" in product builds).
QString root();

// `absolutePath` moved under the sandbox root; unchanged in product builds
// and for relative paths.
QString path(const QString &absolutePath);

// Sandbox builds: checks that KIRTA_SYSROOT names an existing absolute
// directory and fills `error` otherwise. Product builds: always true.
bool checkEnvironment(QString *error);

} // namespace Sysroot
