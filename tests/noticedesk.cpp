// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "noticedesk.h"

#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>

namespace {
const int WAIT_MS = 20000;
const char *const NOTIFICATIONS = "org.freedesktop.Notifications";
const char *const STANDIN_CONNECTION = "standin";
const char *const SESSION_CONNECTION = "session";
} // namespace

NoticeDesk::NoticeDesk()
    : m_daemon(new StatusStandIn)
{ }

NoticeDesk::~NoticeDesk()
{
    m_notificationDaemon.terminate();
    m_notificationDaemon.waitForFinished();
    delete m_daemon;
}

bool NoticeDesk::start()
{
    const auto fail = [this](const QString &why) {
        m_error = why;
        return false;
    };
    if (!m_systemBus.start())
        return fail(m_systemBus.errorString());
    if (!m_sessionBus.start())
        return fail(m_sessionBus.errorString());
    if (!m_dir.isValid() || !republish())
        return fail(QStringLiteral("no log directory, or no name for the stand-in"));
    m_notificationDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_notificationDaemon.start(QStringLiteral("/usr/bin/python3"),
                               {"-m", "dbusmock", "--template", "notification_daemon", "-l",
                                m_dir.filePath(QStringLiteral("notifications.log"))});
    const QDBusConnection session = QDBusConnection::connectToBus(
            m_sessionBus.address(), QLatin1String(SESSION_CONNECTION));
    const auto shown = [&] {
        return session.interface()->isServiceRegistered(QLatin1String(NOTIFICATIONS)).value();
    };
    return waitUntil(shown, WAIT_MS) || fail(QStringLiteral("no notification daemon"));
}

bool NoticeDesk::republish()
{
    return m_daemon->publish(QDBusConnection::connectToBus(m_systemBus.address(),
                                                           QLatin1String(STANDIN_CONNECTION)));
}

QString NoticeDesk::notify(const QString &summary, const QString &body, const QStringList &actions)
{
    QStringList quoted;
    for (const QString &action : actions)
        quoted << QLatin1Char('"') + action + QLatin1Char('"');
    return QStringLiteral("Notify \"kirta-update-notifier\" 0 \"system-software-update\" \"%1\" "
                          "\"%2\" [%3]")
            .arg(summary, body, quoted.join(QStringLiteral(", ")));
}

QStringList NoticeDesk::notices() const
{
    QFile log(m_dir.filePath(QStringLiteral("notifications.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression call(
            QStringLiteral("^[0-9.]+ ((Notify|CloseNotification) .*?)( \\{.*\\} -?\\d+)?$"));
    QStringList calls;
    for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = call.match(line);
        if (match.hasMatch())
            calls << match.captured(1);
    }
    return calls;
}

bool NoticeDesk::noticesBecome(const QStringList &expected) const
{
    return waitUntil([&] { return notices().size() >= expected.size(); }, WAIT_MS)
           && notices() == expected;
}

bool NoticeDesk::invokeAction(uint id, const QString &action)
{
    QDBusMessage invoke = QDBusMessage::createMethodCall(
            QLatin1String(NOTIFICATIONS), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    invoke << QLatin1String(NOTIFICATIONS) << QStringLiteral("ActionInvoked")
           << QStringLiteral("us") << QVariantList {id, action};
    return QDBusConnection(QLatin1String(SESSION_CONNECTION)).call(invoke).type()
           == QDBusMessage::ReplyMessage;
}
