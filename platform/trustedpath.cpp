// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "trustedpath.h"

#include "sysroot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {
bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == ::geteuid();
}

QString systemError(const QString &path)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

QString judge(const QString &path, const struct stat &info)
{
    if (!trustedOwner(info.st_uid))
        return QStringLiteral("%1 is owned by uid %2").arg(path).arg(info.st_uid);
    const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !sticky)
        return QStringLiteral("%1 is writable by group or others").arg(path);
    return QString();
}

// The entry itself: the link when it is one, then what it leads to.
QString judgeEntry(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0)
        return systemError(path);
    if (S_ISLNK(info.st_mode) && !trustedOwner(info.st_uid))
        return QStringLiteral("the link %1 is owned by uid %2").arg(path).arg(info.st_uid);
    if (::stat(name.constData(), &info) != 0)
        return systemError(path);
    return judge(path, info);
}

// Every directory above `path`, up to "/". In the sandbox the tree's root
// stands for "/" to the paths inside it: where the tree itself lies is the
// business of whoever made it.
QString judgeDirectoriesAbove(const QString &path)
{
    const QString sandbox = Sysroot::root();
    const QString tops[] = {sandbox.isEmpty() ? QString() : QDir::cleanPath(sandbox),
                            sandbox.isEmpty() ? QString() : QFileInfo(sandbox).canonicalFilePath()};
    QString dir = QFileInfo(path).path();
    while (true) {
        const QString why = judgeEntry(dir);
        if (!why.isEmpty())
            return why;
        const QString parent = QFileInfo(dir).path();
        if (parent == dir || (!tops[0].isEmpty() && (dir == tops[0] || dir == tops[1])))
            return QString();
        dir = parent;
    }
}
} // namespace

namespace TrustedPath {

QString whyUntrusted(const QString &path)
{
    const QString written = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString why = judgeEntry(written);
    if (why.isEmpty())
        why = judgeDirectoriesAbove(written);
    const QString resolved = QFileInfo(written).canonicalFilePath();
    if (why.isEmpty() && resolved.isEmpty())
        why = QStringLiteral("%1 cannot be resolved").arg(written);
    if (why.isEmpty() && resolved != written)
        why = judgeDirectoriesAbove(resolved);
    return why;
}

QString whyUntrustedFile(int fd, const QString &path)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return systemError(path);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    return judge(path, info);
}

} // namespace TrustedPath
