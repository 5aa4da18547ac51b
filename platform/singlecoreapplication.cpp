// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "singlecoreapplication.h"

#include <singleapplication/singleapplication.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
constexpr int LOCK_ATTEMPTS = 20;
constexpr useconds_t LOCK_RETRY_USEC = 50000;

// Opens and locks `path`; -1 with `heldElsewhere` set when another process
// holds the lock. A lock file that cannot be made at all guards nothing,
// and then the shared-memory guard below decides alone.
int takeLock(const QString &path, bool *heldElsewhere)
{
    *heldElsewhere = false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    // A child of an instance that has just died may still hold the lock
    // between its fork and its exec: give such a holder a moment.
    for (int attempt = 0;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return fd;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || attempt == LOCK_ATTEMPTS) {
            *heldElsewhere = errno == EWOULDBLOCK;
            ::close(fd);
            return -1;
        }
        ::usleep(LOCK_RETRY_USEC);
    }
}
} // namespace

SingleCoreApplication::SingleCoreApplication(int &argc, char **argv, const QString &lockFile)
{
    m_lockFd = takeLock(lockFile, &m_lockHeldElsewhere);
    // Secondaries are allowed so that a second start can ask isRunning()
    // and pass its message instead of being terminated by the guard.
    m_app = std::make_unique<SingleApplication>(argc, argv, true, SingleApplication::Mode::System);
}

SingleCoreApplication::~SingleCoreApplication()
{
    m_app.reset();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleCoreApplication::isRunning() const
{
    return m_lockHeldElsewhere || m_app->isSecondary();
}

bool SingleCoreApplication::sendMessage(const QString &message, int timeout)
{
    // An instance found only by the lock sits in another /tmp, out of the
    // message channel's reach.
    if (!m_app->isSecondary())
        return false;
    return m_app->sendMessage(message.toUtf8(), timeout);
}

QCoreApplication *SingleCoreApplication::application() const
{
    return m_app.get();
}

int SingleCoreApplication::exec()
{
    return QCoreApplication::exec();
}
