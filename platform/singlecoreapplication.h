// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QCoreApplication>

#include <memory>

class SingleApplication;

// The application object of a program of which one instance runs per
// machine and binary. The guard is machine-wide: a second start by any user
// finds the first one, also from another mount namespace (a unit's private
// /tmp), through an flock on `lockFile`. The second instance can hand the
// first a message.
class SingleCoreApplication
{
public:
    // `lockFile` lies on a file system that every instance sees (/run); it
    // is taken before anything else is done, and held until exit.
    SingleCoreApplication(int &argc, char **argv, const QString &lockFile);
    ~SingleCoreApplication();

    // True when another instance already runs.
    bool isRunning() const;
    // Sends `message` to the running instance; false when it was not
    // delivered within `timeout` ms.
    bool sendMessage(const QString &message, int timeout = 5000);

    QCoreApplication *application() const;
    int exec();

private:
    int m_lockFd = -1;
    bool m_lockHeldElsewhere = false;
    std::unique_ptr<SingleApplication> m_app;
};
