// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "polkitauthority.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
// The subject of a check: ("system-bus-name", {"name": <sender>}).
struct Subject
{
    QString kind;
    QVariantMap details;
};

using Details = QMap<QString, QString>;

// polkit may ask the user for a password (an authentication agent shows
// the dialogue), so the wait is long.
const int POLKIT_TIMEOUT_MS = 120000;
const uint ALLOW_USER_INTERACTION = 1;
} // namespace

Q_DECLARE_METATYPE(Subject)
Q_DECLARE_METATYPE(Details)

namespace {
QDBusArgument &operator<<(QDBusArgument &argument, const Subject &subject)
{
    argument.beginStructure();
    argument << subject.kind << subject.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Subject &subject)
{
    argument.beginStructure();
    argument >> subject.kind >> subject.details;
    argument.endStructure();
    return argument;
}

// Reads is_authorized from the answer (bba{ss}).
bool authorized(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage
        || reply.signature() != QLatin1String("(bba{ss})"))
        return false;
    const QDBusArgument result = reply.arguments().at(0).value<QDBusArgument>();
    bool isAuthorized = false;
    bool isChallenge = false;
    Details details;
    result.beginStructure();
    result >> isAuthorized >> isChallenge >> details;
    result.endStructure();
    return isAuthorized;
}
} // namespace

PolkitAuthority::PolkitAuthority(QObject *parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<Subject>();
    qDBusRegisterMetaType<Details>();
}

void PolkitAuthority::check(const QDBusConnection &bus, const QString &sender,
                            const QString &action, Done done)
{
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("GetConnectionUnixUser"))
                             << sender;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, bus, sender, action, done](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> uid = *finished;
                if (uid.isError())
                    done(false);
                else if (uid.value() == 0)
                    done(true);
                else
                    askPolkit(bus, sender, action, done);
            });
}

void PolkitAuthority::askPolkit(const QDBusConnection &bus, const QString &sender,
                                const QString &action, Done done)
{
    QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.PolicyKit1"),
            QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
            QStringLiteral("CheckAuthorization"));
    const Subject subject {QStringLiteral("system-bus-name"), {{QStringLiteral("name"), sender}}};
    ask << QVariant::fromValue(subject) << action << QVariant::fromValue(Details())
        << ALLOW_USER_INTERACTION << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, POLKIT_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                done(authorized(finished->reply()));
            });
}
