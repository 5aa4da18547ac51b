// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "fuzzsandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char g_root[256];

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

void removeRoot()
{
    if (g_root[0] != '\0')
        ::nftw(g_root, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

// The stores fsync every write, which is cheap on tmpfs.
const char *tempBase()
{
    struct stat info;
    if (::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char *tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Priority 101 runs before every default-priority static initialiser of the
// program, including the daemon's path constants.
__attribute__((constructor(101))) void makeSandbox()
{
    const char *base = tempBase();
    std::snprintf(g_root, sizeof g_root, "%s/kirta-fuzz-XXXXXX", base);
    if (!::mkdtemp(g_root)) {
        std::perror("fuzz sandbox: mkdtemp");
        std::abort();
    }
    ::setenv("KIRTA_SYSROOT", g_root, 1);
    // A zone with summer time, so that the skipped hour is reachable.
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    std::atexit(removeRoot);
}

} // namespace

namespace FuzzSandbox {

QString root()
{
    check(g_root[0] != '\0', "fuzz sandbox root was not made");
    return QString::fromLocal8Bit(g_root);
}

void requireInside(const QString &path)
{
    const QString prefix = root() + QLatin1Char('/');
    if (!path.startsWith(prefix)) {
        std::fprintf(stderr, "fuzz sandbox: %s is outside %s\n", qPrintable(path),
                     qPrintable(prefix));
        std::abort();
    }
}

void writeFile(const QString &path, const QByteArray &content)
{
    requireInside(path);
    check(QDir().mkpath(QFileInfo(path).absolutePath()), "cannot make the file's directory");
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot open a file to write");
    check(file.write(content) == content.size(), "cannot write a file");
}

void silenceQtMessages()
{
    qInstallMessageHandler(discardMessage);
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

} // namespace FuzzSandbox
