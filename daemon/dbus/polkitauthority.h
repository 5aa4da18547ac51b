// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QCache>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>

#include <functional>

// Decides whether the sender of a bus call may do an action: root always,
// anybody else only when polkit says so. Asks the bus for the sender's uid
// and polkit for the action without blocking the calling thread; the answer
// comes through `done` on the thread this object lives on. No answer, an
// error or no polkit at all counts as a refusal.
//
// The bus knows a sender's uid only while the sender is connected, and a
// caller that does not wait for the answer may be gone by the time its
// call is read. So the uid is asked for at a sender's first call of any
// kind and kept per unique name (the bus never gives a name twice): a
// change that follows a call the sender waited for is judged by a uid
// learnt while it was still there.
class PolkitAuthority : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(bool allowed)>;

    explicit PolkitAuthority(QObject *parent = nullptr);

    // Asks the bus for the uid of `sender` unless it is known or asked for
    // already. Call it before the sender can have had any answer.
    void remember(const QDBusConnection &bus, const QString &sender);
    void check(const QDBusConnection &bus, const QString &sender, const QString &action, Done done);

    // Senders whose uid is kept; the least recently seen are forgotten
    // first. A forgotten sender that is still there is simply asked again.
    static constexpr int REMEMBERED_SENDERS = 1024;

private:
    QDBusPendingCall uidLookup(const QDBusConnection &bus, const QString &sender);
    void decide(const QDBusConnection &bus, const QString &sender, const QString &action,
                const QDBusPendingCall &lookup, const Done &done);
    void askPolkit(const QDBusConnection &bus, const QString &sender, const QString &action,
                   Done done);

    QCache<QString, QDBusPendingCall> m_uids;
};
