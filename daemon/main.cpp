// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "healthcheck.h"
#include "logger.h"
#include "meteredwatch.h"
#include "powerpostponement.h"
#include "rebootlock.h"
#include "rebootlockfactory.h"
#include "rebootslotkeeper.h"
#include "restartconfig.h"
#include "restartpolicy.h"
#include "singlecoreapplication.h"
#include "statuspublisher.h"
#include "sysroot.h"
#include "unusablerebootlock.h"
#include "updatedbusservice.h"

#include <QDBusConnection>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Everything the reboot lock is made from: a lock is made anew only when
// one of these changes, so a reload of other settings keeps a held slot.
QString lockSettings(const Params &params)
{
    return QStringList {params.reboot_lock.second,
                        params.reboot_lock_servers.second,
                        params.reboot_lock_group.second,
                        params.reboot_lock_id.second,
                        QString::number(params.reboot_lock_slots.second),
                        params.reboot_lock_user.second,
                        params.reboot_lock_password_file.second,
                        params.reboot_lock_ca_file.second}
            .join(QLatin1Char('\n'));
}

// A restart that will use the slot soon: announced, waiting only for the
// lock, or under way. One that waits for a window, the deadline, an
// inhibitor or power does not keep the rest of the group waiting meanwhile;
// it asks for a slot again when its time comes.
bool restartImminent(const RestartStatus &status)
{
    return status.reason == QLatin1String("users") || status.reason == QLatin1String("lock")
           || status.reason == QLatin1String("restarting");
}

} // namespace

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
        health.setSettleTimeout(params.healthSettleTimeout());
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
    // and adds its plan to it.
    RestartPolicy restartPolicy(QDBusConnection::systemBus());
    RebootSlotKeeper slotKeeper(REBOOT_LOCK_MARK_PATH);
    std::unique_ptr<RebootLock> rebootLock;
    QString rebootLockMadeFrom;
    bool rebootLockMade = false;
    // Before the policy's own handler, so that a changed lock is in place
    // when the policy looks at the new settings.
    QObject::connect(&daemon, &Daemon::settingsLoaded, &restartPolicy, [&](const Params &params) {
        const QString madeFrom = lockSettings(params);
        if (rebootLockMade && madeFrom == rebootLockMadeFrom)
            return;
        rebootLockMade = true;
        rebootLockMadeFrom = madeFrom;
        QString error;
        std::unique_ptr<RebootLock> next(RebootLockFactory::create(params, nullptr, &error));
        Logger logger(LOG_FILE_PATH, Logger::Info);
        if (!next && !error.isEmpty()) {
            // Never a restart without the lock the fleet counts on.
            logger.error(QStringLiteral("Reboot lock: %1; no automatic restart until it is "
                                        "mended")
                                 .arg(error));
            next = std::make_unique<UnusableRebootLock>(error);
        } else if (next) {
            logger.info(QStringLiteral("Reboot lock: %1").arg(next->describe()));
        } else if (rebootLock) {
            logger.info(QStringLiteral("Reboot lock: none"));
        }
        restartPolicy.setLock(next.get());
        slotKeeper.setLock(next.get());
        if (rebootLock)
            rebootLock.release()->deleteLater();
        rebootLock = std::move(next);
    });
    QObject::connect(&daemon, &Daemon::settingsLoaded, &restartPolicy,
                     [&restartPolicy](const Params &params) {
                         restartPolicy.setConfig(RestartConfig::fromParams(params));
                     });
    QObject::connect(publisher, &StatusPublisher::published, &restartPolicy,
                     &RestartPolicy::follow);
    QObject::connect(&restartPolicy, &RestartPolicy::statusChanged, publisher,
                     &StatusPublisher::setRestartStatus);
    service.setRestartPolicy(&restartPolicy);
    service.setSlotKeeper(&slotKeeper);
    QObject::connect(&slotKeeper, &RebootSlotKeeper::statusChanged, publisher,
                     &StatusPublisher::setRebootLockStatus);
    QObject::connect(&restartPolicy, &RestartPolicy::statusChanged, &slotKeeper,
                     [&slotKeeper](const RestartStatus &status) {
                         slotKeeper.setRestartPlanned(restartImminent(status));
                     });
    QObject::connect(&health, &HealthCheck::healthy, &slotKeeper,
                     [&slotKeeper] { slotKeeper.setVerdict(RebootSlotKeeper::Verdict::Healthy); });
    QObject::connect(&health, &HealthCheck::unhealthy, &slotKeeper,
                     [&slotKeeper](const QStringList &reasons) {
                         slotKeeper.setVerdict(RebootSlotKeeper::Verdict::Unhealthy, reasons);
                     });
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
    restartPolicy.follow(now);
    if (daemon.startedAfterUpgradeAtReboot()) {
        slotKeeper.setVerdict(now->lastResult == QLatin1String("unsuccessful")
                                      ? RebootSlotKeeper::Verdict::UpgradeFailed
                                      : RebootSlotKeeper::Verdict::Judging);
        health.run();
    }
    slotKeeper.setRestartPlanned(restartImminent(restartPolicy.status()));
    // Given back (when due) once the start has settled and the policy has
    // seen the armed upgrade, if any.
    QTimer::singleShot(0, &slotKeeper, &RebootSlotKeeper::begin);
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
