// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatenotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDateTime>

#include <cstdio>

namespace {
const char *const NOTIFICATIONS_SERVICE = "org.freedesktop.Notifications";
const char *const NOTIFICATIONS_PATH = "/org/freedesktop/Notifications";
const char *const NOTIFICATIONS_INTERFACE = "org.freedesktop.Notifications";
const char *const APP_NAME = "kirta-update-notifier";
const char *const ICON = "system-software-update";
const char *const CLEAR_ACTION = "clear";
const char *const RESTART_NOW_ACTION = "restart-now";
const char *const POSTPONE_ACTION = "postpone";
const int COUNTDOWN_MS = 60000;

void warn(const QString &message)
{
    std::fprintf(stderr, "kirta-update-notifier: %s\n", qPrintable(message));
}
} // namespace

UpdateNotifier::UpdateNotifier(const QDBusConnection &systemBus, const QDBusConnection &sessionBus,
                               QObject *parent)
    : QObject(parent)
    , m_daemon(systemBus)
    , m_session(sessionBus)
    , m_system(systemBus)
{
    m_countdown.setInterval(COUNTDOWN_MS);
    connect(&m_countdown, &QTimer::timeout, this, &UpdateNotifier::tell);
}

void UpdateNotifier::start()
{
    m_daemon.follow();
    connect(&m_daemon, &DaemonClient::propertiesChanged, this, [this](const QVariantMap &changed) {
        if (!m_status.apply(changed).isEmpty())
            tell();
    });
    connect(&m_daemon, &DaemonClient::statusRead, this, [this](const QVariantMap &properties) {
        m_status.apply(properties);
        tell();
    });
    connect(&m_daemon, &DaemonClient::statusUnreadable, this, [](const QString &error) {
        warn(QStringLiteral("cannot read the update daemon's status: %1").arg(error));
    });
    // A daemon that (re)starts is read whole; the policy keeps what was told.
    connect(&m_daemon, &DaemonClient::appeared, &m_daemon, &DaemonClient::requestStatus);
    m_session.connect(QLatin1String(NOTIFICATIONS_SERVICE), QLatin1String(NOTIFICATIONS_PATH),
                      QLatin1String(NOTIFICATIONS_INTERFACE), QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
    m_session.connect(QLatin1String(NOTIFICATIONS_SERVICE), QLatin1String(NOTIFICATIONS_PATH),
                      QLatin1String(NOTIFICATIONS_INTERFACE), QStringLiteral("NotificationClosed"),
                      this, SLOT(onNotificationClosed(uint, uint)));
    if (m_daemon.isOnBus())
        m_daemon.requestStatus();
}

void UpdateNotifier::tell()
{
    const auto notices = m_policy.update(m_status, QDateTime::currentSecsSinceEpoch());
    for (const NoticePolicy::Notice &notice : notices) {
        switch (notice.kind) {
        case NoticePolicy::Notice::Armed:
            m_armedNotice = notify(notice, m_armedNotice);
            break;
        case NoticePolicy::Notice::Disarmed:
            close(m_armedNotice);
            m_armedNotice = 0;
            break;
        case NoticePolicy::Notice::Result:
            m_resultNotice = notify(notice, m_resultNotice);
            m_resultStampType = notice.stampType;
            break;
        case NoticePolicy::Notice::ResultCleared:
            close(m_resultNotice);
            m_resultNotice = 0;
            break;
        case NoticePolicy::Notice::Power:
            m_powerNotice = notify(notice, m_powerNotice);
            break;
        case NoticePolicy::Notice::PowerCleared:
            close(m_powerNotice);
            m_powerNotice = 0;
            break;
        case NoticePolicy::Notice::Health:
            m_healthNotice = notify(notice, m_healthNotice);
            break;
        case NoticePolicy::Notice::Restart:
            m_restartNotice = notify(notice, m_restartNotice);
            if (!m_countdown.isActive())
                m_countdown.start();
            break;
        case NoticePolicy::Notice::RestartCalledOff:
            m_countdown.stop();
            close(m_restartNotice);
            m_restartNotice = 0;
            break;
        }
    }
}

uint UpdateNotifier::notify(const NoticePolicy::Notice &notice, uint replaces)
{
    QStringList actions;
    if (notice.kind == NoticePolicy::Notice::Result)
        actions << QLatin1String(CLEAR_ACTION) << tr("Clear");
    if (notice.kind == NoticePolicy::Notice::Restart) {
        actions << QLatin1String(RESTART_NOW_ACTION) << tr("Restart now");
        if (notice.postponable)
            actions << QLatin1String(POSTPONE_ACTION) << tr("Postpone");
    }
    const QVariantMap hints {
            {QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.urgent ? 2 : 1))}};
    QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(NOTIFICATIONS_SERVICE), QLatin1String(NOTIFICATIONS_PATH),
            QLatin1String(NOTIFICATIONS_INTERFACE), QStringLiteral("Notify"));
    call << QLatin1String(APP_NAME) << replaces << QLatin1String(ICON) << notice.summary
         << notice.body << actions << hints << (notice.urgent ? 0 : -1);
    const QDBusReply<uint> reply = m_session.call(call);
    if (!reply.isValid()) {
        warn(QStringLiteral("cannot show a notice: %1").arg(reply.error().message()));
        return 0;
    }
    return reply.value();
}

void UpdateNotifier::close(uint id)
{
    if (id == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(NOTIFICATIONS_SERVICE), QLatin1String(NOTIFICATIONS_PATH),
            QLatin1String(NOTIFICATIONS_INTERFACE), QStringLiteral("CloseNotification"));
    call << id;
    m_session.asyncCall(call);
}

void UpdateNotifier::onActionInvoked(uint id, const QString &action)
{
    if (id != 0 && id == m_restartNotice) {
        onRestartAction(action);
        return;
    }
    if (id == 0 || id != m_resultNotice || action != QLatin1String(CLEAR_ACTION))
        return;
    auto *watcher = new QDBusPendingCallWatcher(
            m_daemon.methods().removeUpgradeResultStamp(m_resultStampType), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<int> reply = *call;
        if (reply.isError())
            warn(QStringLiteral("cannot clear the result: %1").arg(reply.error().message()));
        else if (reply.value() == 2)
            warn(QStringLiteral("the daemon could not remove the result"));
        call->deleteLater();
    });
}

void UpdateNotifier::onNotificationClosed(uint id, uint)
{
    if (id == m_armedNotice)
        m_armedNotice = 0;
    if (id == m_resultNotice)
        m_resultNotice = 0;
    if (id == m_powerNotice)
        m_powerNotice = 0;
    if (id == m_healthNotice)
        m_healthNotice = 0;
    if (id != 0 && id == m_restartNotice) {
        // Put away by the person: no more reminders each minute.
        m_restartNotice = 0;
        m_countdown.stop();
    }
}

void UpdateNotifier::onRestartAction(const QString &action)
{
    QDBusPendingCall call = QDBusPendingCall::fromCompletedCall(QDBusMessage());
    if (action == QLatin1String(RESTART_NOW_ACTION)) {
        // The person's own request: the login manager asks polkit and honours
        // other programs' inhibitors.
        QDBusMessage reboot = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Reboot"));
        reboot << true;
        call = m_system.asyncCall(reboot);
    } else if (action == QLatin1String(POSTPONE_ACTION)) {
        call = m_daemon.methods().postponeRestart();
    } else {
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [action](QDBusPendingCallWatcher *finished) {
                if (finished->isError())
                    warn(QStringLiteral("%1 failed: %2").arg(action, finished->error().message()));
                finished->deleteLater();
            });
}
