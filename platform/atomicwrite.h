// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QString>

// Replaces `path` by `content` through a temporary file in the same
// directory that is synced and renamed over it (the directory synced too):
// a crash leaves the old file or the new one, never a torn or empty one.
bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error = nullptr);
