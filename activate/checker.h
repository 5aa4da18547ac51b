// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "dbusservice.h"

#include <QObject>

#include <memory>

class DaemonProxy;

// Arms the pending upgrade and waits until it is armed: a minor update
// through the update daemon, a major-release upgrade through the upgrade
// tool. Runs without an event loop; every call blocks.
class Checker : public QObject
{
    Q_OBJECT
public:
    // Result codes of checkDaemonState().
    enum DaemonState { Armed = 0, NotArmed = 10, CallFailed = 20 };
    // Results of the waiting loops.
    enum WaitResult { Done = 0, TimedOut = 30 };

    static constexpr int MAX_TRIES = 60;
    static constexpr unsigned PAUSE_SECONDS = 2;
    // Sandbox builds only: the pause in milliseconds, for tests.
    static constexpr const char *PAUSE_ENV = "KIRTA_ACTIVATE_PAUSE_MS";

    explicit Checker(QObject *parent = nullptr);
    ~Checker() override;

    void requestMinorActivation();
    int checkDaemonState();
    int waitForMinorActivation();

    void requestMajorActivation();
    int waitForMajorActivation();

private:
    void buildInterface();
    bool interfaceUsable() const;
    void sendArmingRequest();
    // Returns once QtDBus's thread is done with every reply received so far.
    void settleBus();
    // Returns what is left of the pause, as sleep() does.
    unsigned pause() const;

    std::unique_ptr<DaemonProxy> m_interface;
    int m_tryNumber = 0;
    ZunAdmin::DbusService m_dbusService;
    // A proxy built while the daemon was away never learns that it came
    // back (that news needs an event loop), so it is built anew.
    bool m_interfaceStale = false;
    bool m_armingWanted = false;
    // False once the arming request is known to be lost: its call failed,
    // or a later query found the daemon away (a restart forgets it too).
    bool m_armingDelivered = false;
};
