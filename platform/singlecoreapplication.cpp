// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "singlecoreapplication.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Opens and locks `path`; -1 when another process holds the lock or the
// file cannot be had.
int takeLock(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    // A record lock, not flock(): it belongs to this process alone. A child
    // forked by the instance shares its open file until it execs, and one
    // stuck there (or slow to get there on a loaded machine) would keep an
    // flock, and so the guard, after the instance itself has died.
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    int result;
    do
        result = ::fcntl(fd, F_SETLK, &whole);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Short whatever the lock's path, and the same for every instance that
// takes the same lock.
QString serverNameFor(const QString &lockFile)
{
    const QByteArray hash
            = QCryptographicHash::hash(QFile::encodeName(lockFile), QCryptographicHash::Sha256);
    return QStringLiteral("kirta-instance-") + QString::fromLatin1(hash.toHex().left(16));
}
} // namespace

SingleCoreApplication::SingleCoreApplication(int &argc, char **argv, const QString &lockFile)
    : m_lockFd(takeLock(lockFile))
    , m_serverName(serverNameFor(lockFile))
    , m_app(std::make_unique<QCoreApplication>(argc, argv))
{
    if (m_lockFd < 0)
        return;
    m_server = std::make_unique<QLocalServer>();
    // Only a second start by the same user may hand over a message.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, this is the only instance: a socket of the name is
    // left by one that ended without cleaning up.
    QLocalServer::removeServer(m_serverName);
    // Without the socket, second starts cannot hand over their message;
    // the guard itself is unaffected.
    if (!m_server->listen(m_serverName))
        return;
    QLocalServer *server = m_server.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket *peer = server->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            // The message is taken and dropped: a program without a window
            // has nothing to raise.
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [peer] {
                peer->readAll();
                peer->disconnectFromServer();
            });
        }
    });
}

SingleCoreApplication::~SingleCoreApplication()
{
    // close() removes the socket file.
    m_server.reset();
    m_app.reset();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleCoreApplication::isRunning() const
{
    return m_lockFd < 0;
}

bool SingleCoreApplication::sendMessage(const QString &message, int timeout)
{
    if (!isRunning())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeout))
        return false;
    socket.write(message.toUtf8() + '\n');
    const bool sent = socket.waitForBytesWritten(timeout);
    socket.disconnectFromServer();
    return sent;
}

QCoreApplication *SingleCoreApplication::application() const
{
    return m_app.get();
}

int SingleCoreApplication::exec()
{
    return QCoreApplication::exec();
}
