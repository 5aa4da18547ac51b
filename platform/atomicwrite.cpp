// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "atomicwrite.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Names taken by someone else are skipped, never opened.
constexpr int TEMPORARY_NAME_TRIES = 100;

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    // close() reports write-back errors that write() did not.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool fail(QString *error, const QString &what, int code)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(code)));
    return false;
}

// Hidden, so that readers taking every "*.prom" or "*.conf" skip it.
QByteArray temporaryName(const QByteArray &name)
{
    return '.' + name + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
}

bool writeAll(int fd, const QByteArray &content)
{
    const char *data = content.constData();
    qint64 left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}
} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error, int mode)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty())
        return fail(error, path, EISDIR);
    const Descriptor dir(::open(QFile::encodeName(info.absolutePath()).constData(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return fail(error, info.absolutePath(), errno);

    int wanted = mode;
    struct stat old = {};
    if (mode == KEEP_MODE && ::fstatat(dir.get(), name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(old.st_mode))
        wanted = int(old.st_mode & 07777);

    QByteArray temporary;
    int fd = -1;
    for (int i = 0; i < TEMPORARY_NAME_TRIES && fd < 0; ++i) {
        temporary = temporaryName(name);
        fd = ::openat(dir.get(), temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return fail(error, path, errno);
    Descriptor file(fd);
    bool done = writeAll(file.get(), content)
                && (wanted == KEEP_MODE || ::fchmod(file.get(), mode_t(wanted)) == 0)
                && ::fsync(file.get()) == 0;
    int code = errno;
    if (!file.close() && done) {
        done = false;
        code = errno;
    }
    if (done && ::renameat(dir.get(), temporary.constData(), dir.get(), name.constData()) != 0) {
        done = false;
        code = errno;
    }
    if (!done) {
        ::unlinkat(dir.get(), temporary.constData(), 0);
        return fail(error, path, code);
    }
    // The rename itself must reach the disk too.
    ::fsync(dir.get());
    return true;
}
