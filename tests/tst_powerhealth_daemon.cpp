// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The daemon's program on a private system bus with what it waits for:
// NetworkManager's metered connection (python3-dbusmock's template), the
// install boot that left the upgrade for lack of power, and the health
// check after an upgrade boot (a stand-in systemctl, the administrator's
// checks).

#include "buscontract.h"
#include "constants.h"
#include "daemonprocess.h"
#include "healthcheck.h"
#include "processtestbed.h"
#include "statussnapshot.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString SERVICE = QLatin1String(BusContract::SERVICE);
const QString OBJECT_PATH = QLatin1String(BusContract::PATH);
const QString STATUS = QLatin1String(BusContract::STATUS_INTERFACE);
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
const QString NM = QStringLiteral("org.freedesktop.NetworkManager");
const QString NM_PATH = QStringLiteral("/org/freedesktop/NetworkManager");
const QString STAGE = QStringLiteral("kirta-update-service");
const QString STATE_DIR = QStringLiteral("/var/cache/kirta-update-service/");
const QString METRICS = QStringLiteral("/var/lib/node-exporter/kirta.prom");
const int WAIT_MS = 20000;

QVariantMap daemonStatus()
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(
            QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, PROPERTIES,
                                           QStringLiteral("GetAll"))
                    << STATUS,
            QDBus::Block, 5000);
    return qdbus_cast<QVariantMap>(reply.arguments().value(0));
}

QVariant status(const QString &property)
{
    return daemonStatus().value(property);
}

bool setMetered(uint value)
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(
            QDBusMessage::createMethodCall(NM, NM_PATH, PROPERTIES, QStringLiteral("Set"))
            << NM << QStringLiteral("Metered") << QVariant::fromValue(QDBusVariant(value)));
    return reply.type() == QDBusMessage::ReplyMessage;
}
} // namespace

class TestPowerHealthDaemon : public QObject
{
    Q_OBJECT

    ProcessTestBed m_bed;
    SandboxTree &m_tree = m_bed.tree();
    QProcess m_networkManager;

    bool startDaemon(DaemonProcess &daemon)
    {
        return daemon.start()
               && waitUntil(
                       [&] {
                           return !daemon.isRunning()
                                  || QDBusConnection::systemBus()
                                             .interface()
                                             ->isServiceRegistered(SERVICE)
                                             .value();
                       },
                       WAIT_MS)
               && daemon.isRunning();
    }

    // NetworkManager with a Metered property (the template lacks it).
    bool startNetworkManager(uint metered)
    {
        m_networkManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_networkManager.start(QStringLiteral("/usr/bin/python3"),
                               {"-m", "dbusmock", "--template", "networkmanager"});
        if (!waitUntil(
                    [] {
                        return QDBusConnection::systemBus()
                                .interface()
                                ->isServiceRegistered(NM)
                                .value();
                    },
                    WAIT_MS))
            return false;
        const QDBusMessage reply = QDBusConnection::systemBus().call(
                QDBusMessage::createMethodCall(NM, NM_PATH,
                                               QStringLiteral("org.freedesktop.DBus.Mock"),
                                               QStringLiteral("AddProperty"))
                << NM << QStringLiteral("Metered") << QVariant::fromValue(QDBusVariant(metered)));
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    void stopNetworkManager()
    {
        if (m_networkManager.state() == QProcess::NotRunning)
            return;
        m_networkManager.terminate();
        m_networkManager.waitForFinished(5000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_bed.start(), qPrintable(m_bed.errorString())); }

    void init()
    {
        QVERIFY2(m_bed.resetTree(SandboxTree::sampleConfiguration()),
                 qPrintable(m_bed.errorString()));
        QVERIFY(m_tree.installStandIn(QStringLiteral("/usr/bin/apt-cache")));
        QVERIFY(m_tree.installStandIn(QStringLiteral("/usr/bin/systemctl")));
        QVERIFY(m_tree.mkpath(QStringLiteral("/var/cache/apt/archives")));
        QVERIFY(m_tree.writeFile(METRICS, QByteArray()));
    }

    void cleanup() { stopNetworkManager(); }

    // No download starts while the connection is metered, unless a key, the
    // deadline or forced mode says otherwise; it starts once that changes.
    void meteredConnection_data()
    {
        QTest::addColumn<int>("metered");
        QTest::addColumn<QString>("extraConfig");
        QTest::addColumn<bool>("held");
        QTest::newRow("metered, then not") << 1 << "" << true;
        QTest::newRow("guessed metered, then not") << 3 << "" << true;
        QTest::newRow("guessed not metered") << 4 << "" << false;
        QTest::newRow("no NetworkManager") << -1 << "" << false;
        QTest::newRow("metered allowed") << 1 << "Download_on_metered=true\n" << false;
        QTest::newRow("metered, deadline passed") << 1 << "T_end=10:00 01.01.2020\n" << false;
    }

    void meteredConnection()
    {
        QFETCH(int, metered);
        QFETCH(QString, extraConfig);
        QFETCH(bool, held);
        QVERIFY(m_tree.writeFile(ProcessTestBed::configPath(),
                                 SandboxTree::sampleConfiguration()
                                         + QStringLiteral("T_download_min=0\nT_download_max=1\n"
                                                          "Metrics_file=%1\n")
                                                   .arg(METRICS)
                                         + extraConfig));
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/kirta-update-service.update.exit"),
                                 QByteArray("1")));
        QVERIFY(m_tree.setStandInOutput(
                QStringLiteral("apt"),
                QStringLiteral("Listing...\nhello/stable 2.0 amd64 [upgradable from: 1.0]\n")));
        if (metered >= 0)
            QVERIFY(startNetworkManager(uint(metered)));
        DaemonProcess daemon;
        QVERIFY(startDaemon(daemon));
        auto downloads = [this] {
            return m_tree.standInCalls(STAGE).filter(QRegularExpression("^download ")).size();
        };
        if (held) {
            KIRTA_WAIT_VERIFY(status("DownloadHeld") == QStringLiteral("metered connection")
                                      && DaemonProcess::logText().contains(
                                              QStringLiteral("Download held back")),
                              WAIT_MS);
            QCOMPARE(status("StateName").toString(), QStringLiteral("wait-for-download"));
            QCOMPARE(downloads(), 0);
            KIRTA_WAIT_VERIFY(m_tree.readFile(METRICS).contains(
                                      QLatin1String("\nkirta_update_download_held 1\n")),
                              WAIT_MS);
            QVERIFY(setMetered(2));
        }
        KIRTA_WAIT_VERIFY(downloads() == 1, WAIT_MS);
        KIRTA_WAIT_VERIFY(status("DownloadHeld") == QString(), WAIT_MS);
        QVERIFY2(daemon.isRunning(), qPrintable(daemon.diagnostics()));
    }

    // The install boot took the link for lack of power: the same upgrade is
    // armed again and the status says why until it is disarmed.
    void postponedForPower()
    {
        QVERIFY(m_tree.writeFile(ProcessTestBed::configPath(), SandboxTree::sampleConfiguration()));
        QVERIFY(m_tree.writeFile(STATE_DIR + "kirta-update-daemon.conf",
                                 SandboxTree::sampleConfiguration()));
        QVERIFY(m_tree.writeFile(STATE_DIR + "upgradable",
                                 QByteArray("Listing...\nhello/stable 2.0 amd64 [upgradable "
                                            "from: 1.0]\n")));
        QVERIFY(m_tree.writeFile(
                STATE_DIR + "status",
                QByteArray("[General]\nstatus=activated\ntarget_release=12.4.1\n")));
        // An old result nobody cleared changes nothing.
        QVERIFY(m_tree.writeFile(STATE_DIR + "successful", QByteArray()));
        const QString reason = QStringLiteral("battery BAT0 at 12 % (below 20 %), no mains power");
        QVERIFY(m_tree.writeFile(STATE_DIR + "postponed_for_power", reason + '\n'));
        DaemonProcess daemon;
        QVERIFY(startDaemon(daemon));
        KIRTA_WAIT_VERIFY(status("PostponedForPower") == reason, WAIT_MS);
        const QVariantMap now = daemonStatus();
        QCOMPARE(now.value("Armed"), QVariant(true));
        QCOMPARE(now.value("StateName"), QVariant(QStringLiteral("activated")));
        QCOMPARE(now.value("TargetRelease"), QVariant(QStringLiteral("12.4.1")));
        QCOMPARE(now.value("Packages").toStringList(), QStringList {QStringLiteral("hello")});
        QCOMPARE(QFileInfo(m_tree.path(QStringLiteral("/system-update"))).symLinkTarget(),
                 m_tree.path(QStringLiteral("/var/cache/apt/archives")));
        QVERIFY(m_tree.exists(STATE_DIR + "kirta-update-daemon.conf"));

        const QDBusMessage disarm = QDBusConnection::systemBus().call(
                QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, SERVICE,
                                               QStringLiteral("disableUpgradeOnReboot")),
                QDBus::Block, 10000);
        QCOMPARE(disarm.type(), QDBusMessage::ReplyMessage);
        KIRTA_WAIT_VERIFY(status("PostponedForPower") == QString(), WAIT_MS);
        QVERIFY(!m_tree.exists(STATE_DIR + "postponed_for_power"));
        QVERIFY(!m_tree.exists(QStringLiteral("/system-update")));
    }

    // The first start after an upgrade boot tells whether the system came
    // up well; a plain restart checks nothing.
    void healthAfterTheUpgradeBoot_data()
    {
        QTest::addColumn<bool>("upgradeRan");
        QTest::addColumn<QString>("failedUnits");
        QTest::addColumn<QString>("checkScript");
        QTest::addColumn<bool>("checkSafe");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("reasons");
        const QString oldUnit = QStringLiteral("old.service loaded failed failed Was broken\n");
        const QString pass = QStringLiteral("#!/bin/sh\nexit 0\n");
        QTest::newRow("healthy, a unit failed before the upgrade")
                << true << oldUnit << pass << true << "healthy" << QStringList();
        QTest::newRow("a unit failed by the upgrade")
                << true << oldUnit + "web.service loaded failed failed Web server\n"
                << pass << true << "unhealthy" << QStringList {"unit web.service failed"};
        QTest::newRow("the administrator's check fails")
                << true << oldUnit << "#!/bin/sh\necho 'disk almost full'\nexit 3\n"
                << true << "unhealthy"
                << QStringList {"check 10-site failed with code 3: disk almost full"};
        QTest::newRow("a check others may change is refused")
                << true << QString() << pass << false << "unhealthy"
                << QStringList {"check 10-site refused: not owned by root or writable by group "
                                "or others"};
        QTest::newRow("plain restart") << false << oldUnit + "web.service loaded failed failed x\n"
                                       << pass << true << "none" << QStringList();
    }

    void healthAfterTheUpgradeBoot()
    {
        QFETCH(bool, upgradeRan);
        QFETCH(QString, failedUnits);
        QFETCH(QString, checkScript);
        QFETCH(bool, checkSafe);
        QFETCH(QString, result);
        QFETCH(QStringList, reasons);
        QVERIFY(m_tree.writeFile(ProcessTestBed::configPath(),
                                 SandboxTree::sampleConfiguration()
                                         + QStringLiteral("Metrics_file=%1\n").arg(METRICS)));
        QVERIFY(m_tree.writeFile(STATE_DIR + "successful", QByteArray()));
        QVERIFY(m_tree.writeFile(STATE_DIR + "failed_units", QByteArray("old.service\n")));
        if (upgradeRan)
            QVERIFY(m_tree.writeFile(STATE_DIR + "upgrade_ran", QByteArray()));
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/systemctl.is-system-running.output"),
                                 failedUnits.isEmpty() ? QByteArray("running\n")
                                                       : QByteArray("degraded\n")));
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/systemctl.list-units.output"),
                                 failedUnits));
        const QString check = QStringLiteral("/etc/kirta-update-service/health.d/10-site");
        QVERIFY(m_tree.writeFile(check, checkScript));
        QVERIFY(QFile::setPermissions(
                m_tree.path(check),
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup
                        | (checkSafe ? QFile::Permissions() : QFile::WriteOther)));
        // Ignored: a package manager's leftover.
        const QString leftover = check + QStringLiteral(".dpkg-old");
        QVERIFY(m_tree.writeFile(leftover, QByteArray("#!/bin/sh\nexit 1\n")));
        QVERIFY(QFile::setPermissions(m_tree.path(leftover), QFile::ReadOwner | QFile::ExeOwner));

        DaemonProcess daemon;
        QVERIFY(startDaemon(daemon));
        if (upgradeRan) {
            KIRTA_WAIT_VERIFY(status("Health") == result, WAIT_MS);
            const QVariantMap now = daemonStatus();
            QCOMPARE(now.value("HealthReasons").toStringList(), reasons);
            QVERIFY(now.value("HealthChecked").toLongLong() > 0);
            QCOMPARE(m_tree.standInCalls(QStringLiteral("systemctl")).first(),
                     QStringLiteral("is-system-running --wait"));
            QVERIFY(!m_tree.exists(STATE_DIR + "upgrade_ran"));
            KIRTA_WAIT_VERIFY(
                    m_tree.readFile(METRICS).contains(
                            QStringLiteral("\nkirta_update_health{result=\"%1\"} 1\n").arg(result)),
                    WAIT_MS);
            const QString line = result == QLatin1String("healthy")
                                         ? QStringLiteral("Health after the upgrade boot: healthy")
                                         : QStringLiteral("Health after the upgrade boot: "
                                                          "unhealthy: ")
                                                   + reasons.join(QStringLiteral("; "));
            QVERIFY2(DaemonProcess::logText().contains(line), qPrintable(DaemonProcess::logText()));
        } else {
            KIRTA_WAIT_VERIFY(DaemonProcess::logText().contains(QStringLiteral("NO PACKAGES")),
                              WAIT_MS);
            QCOMPARE(status("Health").toString(), result);
            QCOMPARE(m_tree.standInCalls(QStringLiteral("systemctl")), QStringList());
        }
    }

    // With Health_rollback, the snapshot of a successful upgrade waits for
    // the health result: healthy lets go of it, unhealthy rolls back to it
    // and restarts the machine.
    void rollbackWhenUnhealthy_data()
    {
        QTest::addColumn<QString>("failedUnits");
        QTest::addColumn<QStringList>("managerCalls");
        QTest::addColumn<QStringList>("stageRuns");
        QTest::addColumn<bool>("reboot");
        QTest::newRow("healthy") << QString() << QStringList() << QStringList {"rm_snapshot"}
                                 << false;
        QTest::newRow("unhealthy") << QStringLiteral("web.service loaded failed failed x\n")
                                   << QStringList {"-b"} << QStringList() << true;
    }

    void rollbackWhenUnhealthy()
    {
        QFETCH(QString, failedUnits);
        QFETCH(QStringList, managerCalls);
        QFETCH(QStringList, stageRuns);
        QFETCH(bool, reboot);
        QVERIFY(m_tree.writeFile(
                ProcessTestBed::configPath(),
                SandboxTree::sampleConfiguration().replace(QStringLiteral("Snapshot=false"),
                                                           QStringLiteral("Snapshot=true"))
                        + QStringLiteral("Health_rollback=true\n")));
        for (const char *file : {"successful", "snapshot", "upgrade_ran"})
            QVERIFY(m_tree.writeFile(STATE_DIR + file, QByteArray()));
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/systemctl.is-system-running.output"),
                                 QByteArray("running\n")));
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/systemctl.list-units.output"),
                                 failedUnits));
        DaemonProcess daemon;
        QVERIFY(startDaemon(daemon));
        KIRTA_WAIT_VERIFY(status("Health").toString().endsWith(QLatin1String("healthy")), WAIT_MS);
        auto snapshotRuns = [this] {
            return m_tree.standInCalls(STAGE).filter(
                    QRegularExpression("^(rm_snapshot|rollback)$"));
        };
        if (reboot)
            KIRTA_WAIT_VERIFY(m_tree.standInCalls(QStringLiteral("systemctl")).contains("reboot"),
                              WAIT_MS);
        else
            KIRTA_WAIT_VERIFY(snapshotRuns() == stageRuns, WAIT_MS);
        QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")), managerCalls);
        QCOMPARE(snapshotRuns(), stageRuns);
        const QStringList systemctl = m_tree.standInCalls(QStringLiteral("systemctl"));
        QCOMPARE(systemctl.contains(QStringLiteral("reboot")), reboot);
        // The snapshot was not dropped before the result.
        const QString log = DaemonProcess::logText();
        QVERIFY(log.contains(QStringLiteral("Snapshot kept until the system is found healthy")));
    }

    // The units that have failed when the upgrade gets armed are recorded
    // then, and only then.
    void failedUnitsRecordedWhenArmed()
    {
        QVERIFY(m_tree.writeFile(QStringLiteral("/standin/systemctl.list-units.output"),
                                 QByteArray("b.service loaded failed failed B\n"
                                            "a.mount loaded failed failed A\n")));
        QVERIFY(m_tree.mkpath(STATE_DIR));
        HealthCheck health;
        StatusSnapshot snapshot;
        snapshot.armed = true;
        // Armed already at the start: recorded back then.
        health.follow(snapshot);
        snapshot.armed = false;
        health.follow(snapshot);
        QTest::qWait(200);
        QVERIFY(!m_tree.exists(STATE_DIR + "failed_units"));
        snapshot.armed = true;
        health.follow(snapshot);
        KIRTA_WAIT_VERIFY(m_tree.readFile(STATE_DIR + "failed_units")
                                  == QStringLiteral("a.mount\nb.service"),
                          WAIT_MS);
        QCOMPARE(m_tree.standInCalls(QStringLiteral("systemctl")),
                 QStringList {"list-units --state=failed --plain --no-legend --no-pager"});
    }
};

QTEST_GUILESS_MAIN(TestPowerHealthDaemon)
#include "tst_powerhealth_daemon.moc"
