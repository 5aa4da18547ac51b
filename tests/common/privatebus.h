// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A dbus-daemon of the test's own, with a permissive policy, that serves as
// the system bus of this process and of the children it starts (or, given
// "DBUS_SESSION_BUS_ADDRESS", as their session bus).
//
// start() sets that variable in this process's environment. Qt
// connects to the system bus once per process and keeps that connection, so
// the bus must be started before the first QDBusConnection::systemBus() (in
// initTestCase, say) and must outlive every use of it. Children started
// afterwards inherit the address.
//
// The destructor (or stop()) ends only the dbus-daemon that start() began,
// removes its socket directory and restores the variable to its earlier
// value.
class PrivateBus
{
public:
    // A unix socket's path holds at most 107 bytes, which a build tree or a
    // TMPDIR deep in a home directory easily passes: every bus of the tests
    // listens in a fresh directory made from this template instead.
    static QString socketDirTemplate();

    explicit PrivateBus(const char *addressVariable = "DBUS_SYSTEM_BUS_ADDRESS");
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // False, with errorString() set, when the bus did not come up within
    // `timeoutMs`.
    bool start(int timeoutMs = 10000);
    void stop();

    bool isRunning() const;
    QString address() const;
    QString errorString() const;

private:
    bool writeConfig();
    void restoreEnvironment();

    const char *m_addressVariable;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_address;
    QString m_error;
    bool m_envSaved = false;
    bool m_hadOldAddress = false;
    QByteArray m_oldAddress;
};
