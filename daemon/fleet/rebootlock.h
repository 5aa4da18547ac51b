// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>
#include <QString>

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

Q_SIGNALS:
    void granted();
    void released();
    // Why the request failed or must wait: the lock server's answer as it
    // came, or "GROUP: N of N slots held".
    void denied(const QString &why);
};
