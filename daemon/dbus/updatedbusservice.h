#pragma once

#include <QObject>

class Daemon;
class UpdateDBusHandler;

// The daemon's presence on the system bus: its well-known name and the one
// object that clients call.
class UpdateDBusService : public QObject
{
    Q_OBJECT

public:
    // Builds the handler and its adaptor; the bus is not touched until
    // registerOnBus().
    explicit UpdateDBusService(Daemon *daemon, QObject *parent = nullptr);

    // Takes the service name and publishes the object. Throws
    // std::runtime_error when there is no bus, the name is owned by somebody
    // else or not allowed, or the object path is taken. The name, once
    // taken, is kept until the process ends.
    void registerOnBus();

private:
    UpdateDBusHandler *m_handler = nullptr;
};
