#include "updatedbusservice.h"

#include "constants.h"
#include "updatedbushandler.h"

#include <QDBusConnection>

#include <stdexcept>

UpdateDBusService::UpdateDBusService(Daemon *daemon, QObject *parent)
    : QObject(parent)
    , m_handler(new UpdateDBusHandler(daemon, this))
{ }

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

    // Only the adaptor's slots are the interface; the handler's own slots
    // stay private to the process.
    if (!bus.registerObject(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME, m_handler,
                            QDBusConnection::ExportAdaptors)) {
        throw std::runtime_error(QStringLiteral("Path '%1' by '%2' interface was not registered")
                                         .arg(DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME)
                                         .toStdString());
    }
}
