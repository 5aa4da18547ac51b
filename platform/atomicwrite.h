// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QString>

// Replaces `path` by `content` through a temporary file in the same
// directory that is synced and renamed over it (the directory synced too):
// a crash leaves the old file or the new one, never a torn or empty one.
//
// Nothing at the file's name is ever followed: the temporary file is made
// (never opened if it exists) and renamed inside the directory opened once,
// so a symbolic link that the directory's owner put there is replaced, not
// written through or given new permissions. Links in the directory's own
// path are followed as usual.
//
// `mode` KEEP_MODE keeps the permissions of the regular file being replaced
// (a new file gets 0666 less the umask); any other value is given to the
// new file exactly, whatever the umask.
constexpr int KEEP_MODE = -1;
bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error = nullptr,
                         int mode = KEEP_MODE);
