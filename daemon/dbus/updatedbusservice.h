// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>

class Daemon;
class QDBusConnection;
class QThread;
class RebootSlotKeeper;
class RestartPolicy;
class StatusPublisher;
class UpdateDBusHandler;

// The daemon's presence on the system bus: its well-known name and the one
// object that clients call. The object answers on a thread other than the
// daemon's, which only carries out changes.
class UpdateDBusService : public QObject
{
    Q_OBJECT

public:
    // Builds the publisher, the handler and its adaptors; the bus is not
    // touched until registerOnBus(). Construct it on the daemon's thread.
    explicit UpdateDBusService(Daemon *daemon, QObject *parent = nullptr);
    ~UpdateDBusService() override;

    // Takes the service name, starts the bus thread and publishes the
    // object. Throws std::runtime_error when there is no bus, the name is
    // owned by somebody else or not allowed, or the object path is taken.
    // The name, once taken, is kept until the process ends.
    void registerOnBus();

    // The daemon's status as clients see it; parts that act on the status
    // follow its published() signal.
    StatusPublisher *publisher() const { return m_publisher; }

    // What the restart methods steer; not owned, set before registerOnBus().
    void setRestartPolicy(RestartPolicy *policy);
    // What releaseRebootLock gives back; not owned, set before registerOnBus().
    void setSlotKeeper(RebootSlotKeeper *keeper);

private:
    // Where the handler answers: the bus library's own thread, or else
    // m_thread, started.
    QThread *answeringThread(const QDBusConnection &bus);

    StatusPublisher *m_publisher = nullptr;
    UpdateDBusHandler *m_handler = nullptr;
    QThread *m_thread = nullptr;
};
