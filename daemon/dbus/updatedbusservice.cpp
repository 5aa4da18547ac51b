// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatedbusservice.h"

#include "constants.h"
#include "daemon.h"
#include "statuspublisher.h"
#include "updatedbushandler.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>

#include <stdexcept>

UpdateDBusService::UpdateDBusService(Daemon *daemon, QObject *parent)
    : QObject(parent)
    , m_publisher(new StatusPublisher(daemon, this))
    // Not a child: it moves to the bus thread.
    , m_handler(new UpdateDBusHandler(daemon, m_publisher))
    , m_thread(new QThread(this))
{
    m_thread->setObjectName(QStringLiteral("bus"));
    connect(daemon, &Daemon::settingsLoaded, m_publisher,
            [publisher = m_publisher](const Params &params) {
                publisher->setMetricsFile(params.metrics_file.second);
            });
}

UpdateDBusService::~UpdateDBusService()
{
    // Deleted here, not on the bus library's thread: the library waits on
    // that thread for the object's unregistration.
    UpdateDBusHandler *handler = m_handler;
    QThread *home = thread();
    if (handler->thread() != home && handler->thread()->isRunning())
        QMetaObject::invokeMethod(
                handler, [handler, home] { handler->moveToThread(home); },
                Qt::BlockingQueuedConnection);
    delete handler;
    m_thread->quit();
    m_thread->wait();
}

void UpdateDBusService::setRestartPolicy(RestartPolicy *policy)
{
    m_handler->setRestartPolicy(policy);
}

QThread *UpdateDBusService::answeringThread(const QDBusConnection &bus)
{
    // The bus library reads the socket on a thread of its own and calls an
    // object that lives there at once, as it answers Peer.Ping; an object
    // elsewhere waits for its thread to wake up, which on a loaded machine
    // can take a scheduler slice. The library's bus-name object lives on
    // that thread.
    QObject *libraryObject = bus.interface();
    if (libraryObject && libraryObject->thread() != thread())
        return libraryObject->thread();
    m_thread->start();
    return m_thread;
}

void UpdateDBusService::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        throw std::runtime_error(tr("DBus object not connected").toStdString());

    if (!bus.registerService(DBUS_SERVICE_NAME)) {
        throw std::runtime_error(QStringLiteral("Service '%1' was not registered")
                                         .arg(DBUS_SERVICE_NAME)
                                         .toStdString());
    }

    m_publisher->follow();
    if (m_handler->thread() == thread())
        m_handler->moveToThread(answeringThread(bus));
    // Only the adaptors' members are the interface; the handler's own slots
    // stay private to the process.
    if (!bus.registerObject(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME, m_handler,
                            QDBusConnection::ExportAdaptors)) {
        throw std::runtime_error(QStringLiteral("Path '%1' by '%2' interface was not registered")
                                         .arg(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME)
                                         .toStdString());
    }
}

void UpdateDBusService::setSlotKeeper(RebootSlotKeeper *keeper)
{
    m_handler->setSlotKeeper(keeper);
}
