// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "privatebus.h"
#include "sandbox.h"

#include <QString>

// What every test that runs the daemon's program sets up: its sandbox tree,
// the program, and a private system bus that QDBusConnection::systemBus()
// finds. A member of the test object, so that the bus outlives every use.
class ProcessTestBed
{
public:
    // The daemon's configuration file inside the tree.
    static QString configPath();

    // For initTestCase: false, with errorString(), when the tree or the
    // program is unusable or the bus does not come up.
    bool start();
    // For init: a fresh tree with the stand-ins and `configuration` as the
    // daemon's configuration file.
    bool resetTree(const QString &configuration);
    QString errorString() const { return m_error; }

    SandboxTree &tree() { return m_tree; }
    const PrivateBus &bus() const { return m_bus; }

private:
    bool fail(const QString &error);

    PrivateBus m_bus;
    SandboxTree m_tree;
    QString m_error;
};
