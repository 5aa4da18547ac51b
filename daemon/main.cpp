// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "healthcheck.h"
#include "logger.h"
#include "meteredwatch.h"
#include "powerpostponement.h"
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
    StatusPublisher *publisher = service.publisher();

    MeteredWatch metered;
    PowerPostponement postponement;
    HealthCheck health;
    const auto pushPower = [&] {
        PowerStatus power;
        power.downloadHeld = metered.holdReason();
        power.postponedForPower = postponement.reason();
        publisher->setPowerStatus(power);
    };
    QObject::connect(&daemon, &Daemon::settingsLoaded, &daemon, [&](const Params &params) {
        metered.setAllowMetered(params.download_on_metered.second);
        health.setSettleTimeout(std::chrono::minutes(params.t_health_settle.second));
        health.setRollback(params.health_rollback.second);
    });
    QObject::connect(
            &metered, &MeteredWatch::holdChanged, &daemon,
            [&](const QString &reason) {
                daemon.setDownloadHold(reason);
                pushPower();
            },
            Qt::QueuedConnection);
    // Queued: both are also told from inside a publication.
    QObject::connect(&postponement, &PowerPostponement::reasonChanged, &daemon, pushPower,
                     Qt::QueuedConnection);
    QObject::connect(&health, &HealthCheck::statusChanged, publisher,
                     &StatusPublisher::setHealthStatus);
    QObject::connect(&health, &HealthCheck::healthy, &daemon,
                     &Daemon::releaseSnapshotKeptForHealth);

    // Asked before the first check, so that its answer is in before any
    // download could start.
    metered.start();

    // The restart into an armed upgrade follows what the daemon publishes
    // and adds its plan to it. No fleet lock is configured yet.
    RestartPolicy restartPolicy(QDBusConnection::systemBus());
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
        postponement.takeOver();
        daemon.start();
        service.registerOnBus();
    } catch (const std::exception &) {
        return 1;
    }
    QObject::connect(publisher, &StatusPublisher::published, &daemon,
                     [&](const std::shared_ptr<const StatusSnapshot> &snapshot) {
                         metered.follow(*snapshot);
                         postponement.follow(*snapshot);
                         health.follow(*snapshot);
                     });
    const std::shared_ptr<const StatusSnapshot> now = publisher->current();
    metered.follow(*now);
    postponement.follow(*now);
    health.follow(*now);
    if (daemon.startedAfterUpgradeAtReboot())
        health.run();
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
