#pragma once

#include <QString>

// Moves `from` to `to` without ever replacing or writing through anything
// at `to`: the move fails when any entry (a file, a directory, a symbolic
// link, also a dangling one) has that name. Between file systems the file
// is copied into a newly created `to` (never an existing one), flushed to
// disk, and only then is `from` removed. `error` (optional) tells why a
// move failed.
bool moveFileNoReplace(const QString &from, const QString &to, QString *error = nullptr);

// Replaces `path` by `content` through a temporary file in the same
// directory that is synced and renamed over it (the directory synced too):
// a crash leaves the old file or the new one, never a torn or empty one.
bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error = nullptr);
