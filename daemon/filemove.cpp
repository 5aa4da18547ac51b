// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "filemove.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool fail(QString *error, const QString &what)
{
    if (error)
        *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// The second half of a move by copy or link: drops `from`, or takes the new
// name back when that fails, so the file never ends up under both names.
bool removeSource(const QByteArray &from, const QByteArray &to, QString *error)
{
    if (::unlink(from.constData()) == 0)
        return true;
    const int unlinkErrno = errno;
    ::unlink(to.constData());
    errno = unlinkErrno;
    return fail(error, QStringLiteral("cannot remove source"));
}

bool copyAcross(const QByteArray &from, const QByteArray &to, QString *error)
{
    const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return fail(error, QStringLiteral("cannot open source"));
    struct stat info
    {
    };
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        errno = EINVAL;
        return fail(error, QStringLiteral("source is not a regular file"));
    }
    // O_EXCL with O_CREAT neither follows a symbolic link nor opens a file
    // that someone else put there first.
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           info.st_mode & 0600);
    if (out < 0) {
        ::close(in);
        return fail(error, QStringLiteral("cannot create destination"));
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (!writeAll(out, buffer, got)) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fchmod(out, info.st_mode & 07777) == 0 && ::fsync(out) == 0;
    const int savedErrno = errno;
    ::close(out);
    ::close(in);
    if (!ok) {
        ::unlink(to.constData());
        errno = savedErrno;
        return fail(error, QStringLiteral("cannot copy across file systems"));
    }
    return removeSource(from, to, error);
}
} // namespace

bool moveFileNoReplace(const QString &from, const QString &to, QString *error)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno == EXDEV)
        return copyAcross(source, target, error);
    if (errno == EINVAL || errno == ENOSYS) {
        // No RENAME_NOREPLACE on this file system: a hard link fails just
        // as well when the name is taken.
        if (::link(source.constData(), target.constData()) != 0)
            return errno == EXDEV ? copyAcross(source, target, error)
                                  : fail(error, QStringLiteral("cannot link"));
        return removeSource(source, target, error);
    }
    return fail(error, QStringLiteral("cannot rename"));
}
