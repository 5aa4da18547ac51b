// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QCoreApplication>
#include <QString>

#include <memory>

class QLocalServer;

// The application object of a program of which one instance runs per
// machine and binary. The guard is a record lock on `lockFile`, which every
// instance sees also from another mount namespace (a unit's private /tmp);
// it alone decides, and the kernel lets it go with the process however
// that ends. The running instance also listens on a local socket in the
// temporary directory, so that a second start can hand it a message;
// nothing else is kept, so nothing outlives the process.
class SingleCoreApplication
{
public:
    // `lockFile` lies on a file system that every instance sees (/run); it
    // is taken before anything else is done, and held until exit.
    SingleCoreApplication(int &argc, char **argv, const QString &lockFile);
    ~SingleCoreApplication();

    // True when another instance already runs, or when the lock could not
    // be taken at all (then nobody can tell that no other instance runs).
    bool isRunning() const;
    // Sends `message` to the running instance; false when it was not
    // delivered within `timeout` ms (also when that instance sits in
    // another temporary directory).
    bool sendMessage(const QString &message, int timeout = 5000);

    QCoreApplication *application() const;
    int exec();

private:
    int m_lockFd = -1;
    QString m_serverName;
    std::unique_ptr<QCoreApplication> m_app;
    std::unique_ptr<QLocalServer> m_server;
};
