#include "updatedbusservice.h"

#include "constants.h"
#include "statuspublisher.h"
#include "updatedbushandler.h"

#include <QDBusConnection>
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
}

UpdateDBusService::~UpdateDBusService()
{
    // Deleted on its own thread, where the bus library relays its signals.
    UpdateDBusHandler *handler = m_handler;
    if (m_thread->isRunning())
        QMetaObject::invokeMethod(
                handler, [handler] { delete handler; }, Qt::BlockingQueuedConnection);
    else
        delete handler;
    m_thread->quit();
    m_thread->wait();
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
    if (!m_thread->isRunning()) {
        m_handler->moveToThread(m_thread);
        m_thread->start();
    }
    // Only the adaptors' members are the interface; the handler's own slots
    // stay private to the process.
    if (!bus.registerObject(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME, m_handler,
                            QDBusConnection::ExportAdaptors)) {
        throw std::runtime_error(QStringLiteral("Path '%1' by '%2' interface was not registered")
                                         .arg(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME)
                                         .toStdString());
    }
}
