#include "constants.h"
#include "daemon.h"
#include "singlecoreapplication.h"
#include "sysroot.h"
#include "updatedbusservice.h"

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    QString sysrootError;
    if (!Sysroot::checkEnvironment(&sysrootError)) {
        std::fprintf(stderr, "kirta-update-daemon: %s\n", qPrintable(sysrootError));
        return 1;
    }

    SingleCoreApplication app(argc, argv);
    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("raise"), 5000);
        return -1;
    }
    QCoreApplication::setOrganizationName(ORGANIZATION_NAME);
    QCoreApplication::setApplicationName(APPLICATION_NAME);

    Daemon daemon;
    UpdateDBusService service(&daemon);
    try {
        daemon.start();
        service.registerOnBus();
    } catch (const std::exception &) {
        return 1;
    }
    return app.exec();
}
