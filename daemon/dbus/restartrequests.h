// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>

class PolkitAuthority;
class RebootSlotKeeper;
class RestartPolicy;

// The bus's answers about the automatic restart: postponing it, cancelling
// it, giving back the fleet lock's slot. Unlike the other changes they are
// judged by the caller's uid, asked from the bus for each call: cancelling
// and giving the slot back are root's alone, even where a local bus policy
// lets others call; postponing is root's at any time and, as polkit
// decides, anybody's before the deadline. Lives on the bus handler's
// thread.
class RestartRequests : public QObject
{
    Q_OBJECT

public:
    using Step = std::function<int()>;
    // Carries out an allowed call's step on the daemon's thread and answers
    // the call with its result.
    using Run = std::function<void(const QDBusMessage &, const QDBusConnection &, Step)>;
    // Answers a call that is not allowed.
    using Refuse = std::function<void(const QDBusMessage &, const QDBusConnection &)>;

    // `authority` is not owned and must outlive this object.
    RestartRequests(PolkitAuthority *authority, Run run, Refuse refuse, QObject *parent = nullptr);

    // Neither is owned; both are set before the object is on the bus.
    // Without them the calls answer that nothing is planned or held.
    void setRestartPolicy(RestartPolicy *policy) { m_policy = policy; }
    void setSlotKeeper(RebootSlotKeeper *keeper) { m_keeper = keeper; }

    // Each takes `call` over and answers it later, through Run or Refuse,
    // and returns true; false when there is nothing to steer, and then the
    // caller answers at once.
    bool postpone(const QDBusMessage &call, const QDBusConnection &bus);
    bool cancel(const QDBusMessage &call, const QDBusConnection &bus);
    bool releaseLock(const QDBusMessage &call, const QDBusConnection &bus);

private:
    // Asks the bus who sent `call`, then runs `then` with the uid (false
    // when the bus did not say).
    void withCaller(const QDBusMessage &call, const QDBusConnection &bus,
                    std::function<void(bool known, uint uid)> then);
    // `step` when the caller is root, a refusal otherwise.
    void rootOnly(const QDBusMessage &call, const QDBusConnection &bus,
                  std::function<int(const QString &who)> step);

    PolkitAuthority *m_authority = nullptr;
    Run m_run;
    Refuse m_refuse;
    RestartPolicy *m_policy = nullptr;
    RebootSlotKeeper *m_keeper = nullptr;
};
