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
    , m_uids(REMEMBERED_SENDERS)
{
    qDBusRegisterMetaType<Subject>();
    qDBusRegisterMetaType<Details>();
}

QDBusPendingCall PolkitAuthority::uidLookup(const QDBusConnection &bus, const QString &sender)
{
    if (QDBusPendingCall *known = m_uids.object(sender))
        return *known;
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("GetConnectionUnixUser"))
                             << sender;
    // Sent now, before any answer to the sender's call: the bus reads our
    // messages in order, so it answers this while the sender still waits.
    const QDBusPendingCall lookup = bus.asyncCall(ask);
    m_uids.insert(sender, new QDBusPendingCall(lookup));
    return lookup;
}

void PolkitAuthority::remember(const QDBusConnection &bus, const QString &sender)
{
    uidLookup(bus, sender);
}

void PolkitAuthority::check(const QDBusConnection &bus, const QString &sender,
                            const QString &action, Done done)
{
    const QDBusPendingCall lookup = uidLookup(bus, sender);
    if (lookup.isFinished()) {
        decide(bus, sender, action, lookup, done);
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(lookup, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, bus, sender, action, done](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                decide(bus, sender, action, *finished, done);
            });
}

void PolkitAuthority::decide(const QDBusConnection &bus, const QString &sender,
                             const QString &action, const QDBusPendingCall &lookup,
                             const Done &done)
{
    const QDBusPendingReply<uint> uid = lookup;
    if (uid.isError()) {
        // Nobody can be judged without a uid. A sender still there is asked
        // about again at its next call.
        m_uids.remove(sender);
        done(false);
    } else if (uid.value() == 0) {
        done(true);
    } else {
        askPolkit(bus, sender, action, done);
    }
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
