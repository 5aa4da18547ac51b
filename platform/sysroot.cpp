// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "sysroot.h"

#include <QDir>
#include <QFileInfo>

namespace {
// A path that never exists, so a broken sandbox fails instead of falling
// through to the real system.
const char *const UNUSABLE_ROOT = "/nonexistent-kirta-sysroot";

QString rawRoot()
{
    return QString::fromLocal8Bit(qgetenv(Sysroot::ENV_NAME));
}

bool isUsableRoot(const QString &dir)
{
    const QFileInfo info(dir);
    return !dir.isEmpty() && QDir::isAbsolutePath(dir) && info.isDir();
}
} // namespace

namespace Sysroot {

bool isSandbox()
{
#ifdef KIRTA_SANDBOX
    return true;
#else
    return false;
#endif
}

QString root()
{
    if (!isSandbox())
        return QString();
    const QString dir = rawRoot();
    if (dir.isEmpty() || !QDir::isAbsolutePath(dir))
        return QString::fromLatin1(UNUSABLE_ROOT);
    return QDir::cleanPath(dir);
}

QString path(const QString &absolutePath)
{
    if (!isSandbox() || !absolutePath.startsWith(QLatin1Char('/')))
        return absolutePath;
    const QString prefix = root();
    return prefix == QLatin1String("/") ? absolutePath : prefix + absolutePath;
}

bool checkEnvironment(QString *error)
{
    if (!isSandbox())
        return true;
    const QString dir = rawRoot();
    if (isUsableRoot(dir))
        return true;
    if (error) {
        if (dir.isEmpty())
            *error = QStringLiteral("%1 is not set; this sandbox build needs it to name an "
                                    "existing absolute directory")
                             .arg(QLatin1String(ENV_NAME));
        else
            *error = QStringLiteral("%1=\"%2\" is not an existing absolute directory")
                             .arg(QLatin1String(ENV_NAME), dir);
    }
    return false;
}

} // namespace Sysroot
