// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "daemonclient.h"
#include "noticepolicy.h"
#include "publishedstatus.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

// Follows the daemon on the system bus and tells the desktop through
// org.freedesktop.Notifications on the session bus.
class UpdateNotifier : public QObject
{
    Q_OBJECT
public:
    UpdateNotifier(const QDBusConnection &systemBus, const QDBusConnection &sessionBus,
                   QObject *parent = nullptr);

    void start();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    void tell();
    void onRestartAction(const QString &action);
    uint notify(const NoticePolicy::Notice &notice, uint replaces);
    void close(uint id);

    DaemonClient m_daemon;
    QDBusConnection m_session;
    PublishedStatus m_status;
    NoticePolicy m_policy;
    uint m_armedNotice = 0;
    uint m_resultNotice = 0;
    uint m_powerNotice = 0;
    uint m_healthNotice = 0;
    int m_resultStampType = -1;
    uint m_restartNotice = 0;
    // Runs only while a restart is announced: the countdown.
    QTimer m_countdown;
    QDBusConnection m_system;
};
