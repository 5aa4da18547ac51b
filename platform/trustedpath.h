// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// Whether a file that root runs or installs from can be changed by anyone
// but root: a validator, an extra repository list. Root is trusted (and the
// effective user, which is root for the daemon and the tests' own user in
// the sandbox). A file or directory passes when a trusted account owns it
// and nobody else may write it; a directory that others may write passes
// only with the sticky bit, which keeps them from renaming or removing
// what a trusted account owns in it. A symbolic link is judged both by the
// link (whose owner may point it elsewhere) and by what it leads to.
namespace TrustedPath {

// "" when `path`, every directory above it as written and every directory
// above what it resolves to are fit; otherwise why not, naming the path at
// fault. In the sandbox, directories above the tree are not judged for
// paths inside it.
QString whyUntrusted(const QString &path);

// The same for the file open at `fd` (named `path` in the reason); it must
// also be a regular file.
QString whyUntrustedFile(int fd, const QString &path);

} // namespace TrustedPath
