// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "privatebus.h"
#include "statusstandin.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// What a desktop client of the daemon meets, all of the test's own: a
// private system bus with a stand-in of the daemon's object (served by this
// process) and a private session bus with python3-dbusmock's notification
// daemon, whose call log tells what the desktop would have shown. Children
// started after start() inherit both buses.
class NoticeDesk
{
public:
    NoticeDesk();
    ~NoticeDesk();
    NoticeDesk(const NoticeDesk &) = delete;
    NoticeDesk &operator=(const NoticeDesk &) = delete;

    // False, with errorString() set, when a bus or the notification daemon
    // did not come up.
    bool start();
    QString errorString() const { return m_error; }

    StatusStandIn &daemon() { return *m_daemon; }
    // The stand-in on the system bus again, on a fresh connection, as a
    // daemon that restarted.
    bool republish();

    // A notice of the notifier as notices() gives it; `actions` as key and
    // label, one after the other.
    static QString notify(const QString &summary, const QString &body,
                          const QStringList &actions = {});
    // The Notify and CloseNotification calls so far, without the log's time
    // stamps and the hints.
    QStringList notices() const;
    // Waits until as many calls as `expected` holds were made; true when
    // they are those.
    bool noticesBecome(const QStringList &expected) const;
    // A person chose `action` on the notice numbered `id`.
    bool invokeAction(uint id, const QString &action);

private:
    PrivateBus m_systemBus;
    PrivateBus m_sessionBus {"DBUS_SESSION_BUS_ADDRESS"};
    QTemporaryDir m_dir;
    QProcess m_notificationDaemon;
    StatusStandIn *m_daemon;
    QString m_error;
};
