#include "catalogue.h"
#include "updatenotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Catalogue::install(app);
    const QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        std::fprintf(stderr, "kirta-update-notifier: no session bus: %s\n",
                     qPrintable(session.lastError().message()));
        return 1;
    }
    UpdateNotifier notifier(QDBusConnection::systemBus(), session);
    notifier.start();
    return app.exec();
}
