// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QDateTime>
#include <QString>
#include <QStringList>

// What the restart policy asks of the login manager and the power daemon on
// the system bus. Each call waits for its answer, bounded: the policy asks at
// most once a minute, and only while a restart is due.
class LogindClient
{
public:
    // A block-mode shutdown inhibitor of another program.
    struct Inhibitor
    {
        QString who;
        QString why;
    };
    struct Power
    {
        bool onBattery = false;
        int percent = 100;
    };

    explicit LogindClient(const QDBusConnection &bus);

    // Block-mode inhibitors whose "what" holds shutdown, but those of this
    // process. An unanswered question counts as none: the login manager
    // refuses the restart itself when it must.
    QList<Inhibitor> shutdownBlockers() const;
    // People who would lose their work: sessions of class "user" on a seat,
    // remote or on a terminal. "user (tty)" per session.
    QStringList interactiveSessions() const;
    // From the power daemon; where none answers, from the kernel's
    // power_supply class.
    Power power() const;

    // Announces the reboot for `when` (wall messages, no new logins in the
    // last minutes), cancels such an announcement, reboots now.
    bool scheduleReboot(const QDateTime &when, QString *error) const;
    bool cancelScheduledReboot(QString *error) const;
    bool reboot(QString *error) const;

    static constexpr int CALL_TIMEOUT_MS = 5000;

private:
    QDBusConnection m_bus;
};
