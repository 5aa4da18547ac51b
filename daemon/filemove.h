// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// Moves `from` to `to` without ever replacing or writing through anything
// at `to`: the move fails when any entry (a file, a directory, a symbolic
// link, also a dangling one) has that name. Between file systems the file
// is copied into a newly created `to` (never an existing one), flushed to
// disk, and only then is `from` removed. `error` (optional) tells why a
// move failed.
bool moveFileNoReplace(const QString &from, const QString &to, QString *error = nullptr);
