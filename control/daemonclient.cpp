#include "daemonclient.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

const char *const DaemonClient::SERVICE = "os.kirtalinux.zun.kirtaupdateservice";
const char *const DaemonClient::PATH = "/os/kirtalinux/zun/kirtaupdateservice";
const char *const DaemonClient::STATUS_INTERFACE = "os.kirtalinux.zun.kirtaupdateservice.Status";

namespace {
const char *const PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";
// Arming runs the hook scripts on the daemon's thread, each allowed 30 s.
const int CHANGE_TIMEOUT_MS = 120000;
} // namespace

DaemonClient::DaemonClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_methods(QLatin1String(SERVICE), QLatin1String(PATH), bus)
    , m_watcher(QLatin1String(SERVICE), bus,
                QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration)
{
    m_methods.setTimeout(CHANGE_TIMEOUT_MS);
}

bool DaemonClient::isOnBus() const
{
    return m_bus.isConnected() && m_bus.interface()
            && m_bus.interface()->isServiceRegistered(QLatin1String(SERVICE)).value();
}

bool DaemonClient::readStatus(QVariantMap *properties, QString *error) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(SERVICE), QLatin1String(PATH), QLatin1String(PROPERTIES_INTERFACE),
            QStringLiteral("GetAll"));
    call << QLatin1String(STATUS_INTERFACE);
    const QDBusReply<QVariantMap> reply = m_bus.call(call);
    if (!reply.isValid()) {
        *error = reply.error().message();
        return false;
    }
    *properties = reply.value();
    if (properties->isEmpty()) {
        *error = QStringLiteral("the daemon publishes no status");
        return false;
    }
    return true;
}

bool DaemonClient::follow()
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &DaemonClient::appeared);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &DaemonClient::vanished);
    return m_bus.connect(QLatin1String(SERVICE), QLatin1String(PATH),
                         QLatin1String(PROPERTIES_INTERFACE), QStringLiteral("PropertiesChanged"),
                         this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

void DaemonClient::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                       const QStringList &invalidated)
{
    if (interface != QLatin1String(STATUS_INTERFACE))
        return;
    if (invalidated.isEmpty()) {
        Q_EMIT propertiesChanged(changed);
        return;
    }
    // Values sent without their content are fetched.
    QVariantMap all;
    QString error;
    if (readStatus(&all, &error))
        Q_EMIT propertiesChanged(all);
}
