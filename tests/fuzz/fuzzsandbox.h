// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QString>

// The private sandbox root of a fuzz target process.
//
// The daemon's paths are fixed at static initialisation from $KIRTA_SYSROOT,
// so the root is made and exported by a constructor that runs before any of
// them (a fresh temporary directory, preferably on /dev/shm: the stores
// fsync every write). It is removed when the process exits normally.
namespace FuzzSandbox {

// The root; aborts when it could not be made.
QString root();

// Aborts unless `path` lies inside the root, so that a broken setup never
// writes to the real system.
void requireInside(const QString &path);

// Replaces the file at `path` (parents created) or aborts.
void writeFile(const QString &path, const QByteArray &content);

// Drops Qt's warnings: the readers warn about every malformed input.
void silenceQtMessages();

// Aborts with `what` on standard error when `condition` is false.
void check(bool condition, const char *what);

} // namespace FuzzSandbox
