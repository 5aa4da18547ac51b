// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

// A slot that a machine must hold while it restarts, so that a group of
// machines restarts a few at a time. Every request is answered exactly once,
// later, on the caller's thread: granted() or released() on success, denied()
// with words for the status otherwise. Taking a slot that is already held
// and giving back one that is not held both succeed, so a request repeated
// after a lost answer does no harm.
class RebootLock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~RebootLock() override;

    // Asks for a slot before the restart.
    virtual void acquire() = 0;
    // Gives the slot back once the machine is healthy again.
    virtual void release() = 0;
    // What the lock is, for the log and the status ("etcd group web").
    virtual QString describe() const = 0;

    // Why a request failed, as one word for monitoring (few label values):
    // every slot of the group is taken; no server answered; a server
    // answered with an error; the settings cannot make a usable lock.
    static constexpr const char *FULL = "full";
    static constexpr const char *UNREACHABLE = "unreachable";
    static constexpr const char *SERVER = "server";
    static constexpr const char *CONFIGURATION = "configuration";
    static const QStringList &errorKinds();

    // Requests and failures of every lock of this process since it
    // started: a lock made anew from changed settings goes on counting.
    struct Tally
    {
        qint64 acquires = 0;
        qint64 releases = 0;
        QMap<QString, qint64> errors;
    };
    static Tally tally();

Q_SIGNALS:
    void granted();
    void released();
    // Why the request failed or must wait: the lock server's answer as it
    // came, or "GROUP: N of N slots held".
    void denied(const QString &why);

protected:
    // Each backend counts its requests as they come and fails through
    // refuse(), which counts the failure by kind and emits denied().
    void countRequest(bool acquire);
    void refuse(const char *kind, const QString &why);
};
