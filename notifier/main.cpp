// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

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
