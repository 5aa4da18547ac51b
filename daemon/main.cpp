#include "constants.h"
#include "daemon.h"
#include "logger.h"
#include "restartconfig.h"
#include "restartpolicy.h"
#include "singlecoreapplication.h"
#include "statuspublisher.h"
#include "sysroot.h"
#include "updatedbusservice.h"

#include <QDBusConnection>

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    QString sysrootError;
    if (!Sysroot::checkEnvironment(&sysrootError)) {
        std::fprintf(stderr, "kirta-update-daemon: %s\n", qPrintable(sysrootError));
        return 1;
    }

    SingleCoreApplication app(argc, argv, INSTANCE_LOCK_PATH);
    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("raise"), 5000);
        return -1;
    }
    QCoreApplication::setOrganizationName(ORGANIZATION_NAME);
    QCoreApplication::setApplicationName(APPLICATION_NAME);

    Daemon daemon;
    UpdateDBusService service(&daemon);
    // The restart into an armed upgrade follows what the daemon publishes
    // and adds its plan to it. No fleet lock is configured yet.
    RestartPolicy restartPolicy(QDBusConnection::systemBus());
    StatusPublisher *publisher = service.publisher();
    QObject::connect(&daemon, &Daemon::settingsLoaded, &restartPolicy,
                     [&restartPolicy](const Params &params) {
                         restartPolicy.setConfig(RestartConfig::fromParams(params));
                     });
    QObject::connect(publisher, &StatusPublisher::published, &restartPolicy,
                     &RestartPolicy::follow);
    QObject::connect(&restartPolicy, &RestartPolicy::statusChanged, publisher,
                     &StatusPublisher::setRestartStatus);
    service.setRestartPolicy(&restartPolicy);
    try {
        daemon.start();
        service.registerOnBus();
    } catch (const std::exception &) {
        return 1;
    }
    // Qt never reconnects to the bus: a daemon that lost it would run on
    // unreachable. Leaving with a failure lets systemd start it afresh,
    // and the new instance registers again.
    QDBusConnection::systemBus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                                         QStringLiteral("org.freedesktop.DBus.Local"),
                                         QStringLiteral("Disconnected"), app.application(),
                                         SLOT(quit()));
    const int result = app.exec();
    if (!QDBusConnection::systemBus().isConnected()) {
        Logger(LOG_FILE_PATH, Logger::Info)
                .error(QStringLiteral("Lost the connection to the system bus, exiting"));
        return 1;
    }
    return result;
}
