// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// A fleet of five daemons (sandbox builds, each with its own tree, private
// bus and stand-in login manager) in one group with two slots of the reboot
// lock, against a real three-member etcd cluster: four keep the group's
// record in etcd themselves, one goes through a FleetLock server on the same
// record. All are armed with the window open. The test carries out each
// restart the login manager is asked for (an upgrade boot: the offline
// upgrade's marks, the daemon started again) and samples the holders from
// etcd throughout.

#include "daemonprocess.h"
#include "etcdcluster.h"
#include "fleetlockserver.h"
#include "privatebus.h"
#include "sandbox.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace {
const QString SERVICE = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice");
const QString OBJECT_PATH = QStringLiteral("/os/kirtalinux/zun/kirtaupdateservice");
const QString STATUS = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice.Status");
const QString STATE_DIR = QStringLiteral("/var/cache/kirta-update-service/");
const QString METRICS = QStringLiteral("/var/lib/node-exporter/kirta.prom");
// The record as the etcd-backed FleetLock server keeps it.
const QByteArray RECORD_KEY = QByteArrayLiteral("com.coreos.airlock/groups/fleet/v1/semaphore");
const int SLOTS = 2;
// How often a waiting daemon asks again (the product's minute, shortened).
const int RECHECK_MS = 700;
const int STEP_MS = 60000;
const char *const BUS_VARIABLES[] = {"KIRTA_FLEET_BUS_1", "KIRTA_FLEET_BUS_2", "KIRTA_FLEET_BUS_3",
                                     "KIRTA_FLEET_BUS_4", "KIRTA_FLEET_BUS_5"};
} // namespace

// The login manager of one machine: records the restarts it is asked for.
class LoginManagerStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    int reboots = 0;

public Q_SLOTS:
    void Reboot(bool interactive)
    {
        Q_UNUSED(interactive)
        ++reboots;
    }
};

namespace {
struct Machine
{
    QString id;
    bool viaFleetLock = false;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<QDBusConnection> connection;
    std::unique_ptr<LoginManagerStandIn> logind;
    std::unique_ptr<SandboxTree> tree;
    std::unique_ptr<DaemonProcess> daemon;
    // Restarts carried out so far, and whether the upgrade boot breaks a unit.
    int restarts = 0;
    bool breaksOnUpgrade = true;

    QString metrics() const { return tree->readFile(METRICS); }
    // The value of one series of the metrics file; -1 when absent.
    qint64 metric(const QString &series) const
    {
        const QRegularExpression line(
                QStringLiteral("\n%1 (-?\\d+)\n").arg(QRegularExpression::escape(series)));
        const QRegularExpressionMatch match = line.match(metrics());
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }
};

QVariantMap statusOf(const Machine &machine)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
            SERVICE, OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("GetAll"));
    call << STATUS;
    // Never a blocking call: the daemon may be waiting for this process's
    // login manager.
    QDBusPendingCall pending = machine.connection->asyncCall(call, 5000);
    if (!waitUntil([&] { return pending.isFinished(); }, 6000) || pending.isError())
        return {};
    return qdbus_cast<QVariantMap>(pending.reply().arguments().value(0));
}
} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void fleetRestartsTwoAtATime();

private:
    bool prepareMachine(Machine &machine, const QString &config);
    bool startDaemon(Machine &machine);
    // Carries out the restarts asked for, samples the holders, until `done`
    // holds or `timeoutMs` pass; false on a timeout or too many holders.
    bool drive(const std::function<bool()> &done, int timeoutMs, const char *what);
    void carryOutRestarts();
    QStringList holders(bool *ok);
    int totalRestarts() const;
    int ctl(const Machine &machine, const QStringList &arguments, QString *output);

    SandboxTree m_base;
    std::unique_ptr<EtcdCluster> m_etcd;
    bool m_etcdUp = false;
    std::unique_ptr<FleetLockServer> m_server;
    std::vector<std::unique_ptr<Machine>> m_machines;
    int m_maxHolders = 0;
    QString m_failure;
    QElapsedTimer m_lastSample;
};

void TestFleet::initTestCase()
{
    const QString missing = EtcdCluster::missingPackage();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
    QVERIFY(m_base.isValid());
    QDir(m_base.root()).removeRecursively();
    QVERIFY(QDir().mkpath(m_base.root()));
    m_etcd = std::make_unique<EtcdCluster>(m_base.root() + QStringLiteral("/etcd"));
    QString error;
    QVERIFY2(m_etcd->start(&error), qPrintable(error));
    m_etcdUp = true;
    m_server = std::make_unique<FleetLockServer>();
    QVERIFY(m_server->start({"--etcd", m_etcd->clientUrls(), "--slots", QString::number(SLOTS)},
                            m_base.root() + QStringLiteral("/fleetlock.log")));
    qputenv("KIRTA_TEST_RECHECK_MS", QByteArray::number(RECHECK_MS));

    // A window from an hour ago to two hours ahead, in this zone (the
    // daemons' too): open now, whatever the time of day.
    const QDateTime now = QDateTime::currentDateTime();
    const QString window = QStringLiteral("daily %1-%2")
                                   .arg(now.addSecs(-3600).toString(QStringLiteral("hh:mm")),
                                        now.addSecs(7200).toString(QStringLiteral("hh:mm")));
    for (int i = 0; i < 5; ++i) {
        auto machine = std::make_unique<Machine>();
        machine->id = QStringLiteral("m%1").arg(i + 1);
        machine->viaFleetLock = i == 4;
        const QString lock = machine->viaFleetLock ? QStringLiteral("Reboot_lock=fleetlock\n"
                                                                    "Reboot_lock_servers=%1\n")
                                                             .arg(m_server->url().toString())
                                                   : QStringLiteral("Reboot_lock=etcd\n"
                                                                    "Reboot_lock_servers=%1\n"
                                                                    "Reboot_lock_slots=%2\n")
                                                             .arg(m_etcd->clientUrls())
                                                             .arg(SLOTS);
        const QString config = SandboxTree::sampleConfiguration()
                               + QStringLiteral("Restart_policy=in-window\n"
                                                "Maintenance_windows=%1\n"
                                                "Restart_announce=0\n"
                                                "Reboot_lock_group=fleet\n"
                                                "Reboot_lock_id=%2\n"
                                                "Metrics_file=%3\n")
                                         .arg(window, machine->id, METRICS)
                               + lock;
        machine->bus = std::make_unique<PrivateBus>(BUS_VARIABLES[i]);
        QVERIFY2(machine->bus->start(), qPrintable(machine->bus->errorString()));
        QVERIFY2(prepareMachine(*machine, config), qPrintable(machine->id));
        m_machines.push_back(std::move(machine));
    }
}

void TestFleet::cleanupTestCase()
{
    for (const auto &machine : m_machines) {
        if (machine->daemon)
            machine->daemon->terminate();
    }
    m_machines.clear();
    m_server.reset();
    m_etcd.reset();
}

bool TestFleet::prepareMachine(Machine &machine, const QString &config)
{
    machine.tree = std::make_unique<SandboxTree>(m_base.root() + QLatin1Char('/') + machine.id);
    SandboxTree &tree = *machine.tree;
    // Armed before the start: the link, the stamp, the frozen settings and
    // the status file, as arming leaves them.
    if (!tree.reset() || !tree.prepareDaemonCycle()
        || !tree.installStandIn(QStringLiteral("/usr/bin/systemctl"))
        || !tree.writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                           config)
        || !tree.writeFile(STATE_DIR + QStringLiteral("kirta-update-daemon.conf"), config)
        || !tree.writeFile(STATE_DIR + QStringLiteral("upgradable"), QByteArray())
        || !tree.writeFile(STATE_DIR + QStringLiteral("status"),
                           QByteArray("[General]\nstatus=activated\ntarget_release=12.4.1\n"))
        || !tree.writeFile(QStringLiteral("/standin/systemctl.is-system-running.output"),
                           QByteArray("running\n"))
        || !tree.writeFile(METRICS, QByteArray()))
        return false;
    if (!QFile::link(tree.path(QStringLiteral("/var/cache/apt/archives")),
                     tree.path(QStringLiteral("/system-update"))))
        return false;
    machine.connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(machine.bus->address(), machine.id));
    machine.logind = std::make_unique<LoginManagerStandIn>();
    return machine.connection->isConnected()
           && machine.connection->registerObject(QStringLiteral("/org/freedesktop/login1"),
                                                 machine.logind.get(),
                                                 QDBusConnection::ExportAllSlots)
           && machine.connection->registerService(QStringLiteral("org.freedesktop.login1"));
}

bool TestFleet::startDaemon(Machine &machine)
{
    machine.daemon = std::make_unique<DaemonProcess>();
    machine.daemon->setEnvironmentValue(QStringLiteral("KIRTA_SYSROOT"), machine.tree->root());
    machine.daemon->setEnvironmentValue(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                                        machine.bus->address());
    machine.daemon->setEnvironmentValue(QStringLiteral("KIRTA_TEST_RECHECK_MS"),
                                        QString::number(RECHECK_MS));
    return machine.daemon->start()
           && waitUntil(
                   [&] {
                       return !machine.daemon->isRunning()
                              || machine.connection->interface()
                                         ->isServiceRegistered(SERVICE)
                                         .value();
                   },
                   20000)
           && machine.daemon->isRunning();
}

QStringList TestFleet::holders(bool *ok)
{
    const QByteArray value = m_etcd->value(RECORD_KEY, ok);
    QStringList list;
    const QJsonObject record = QJsonDocument::fromJson(value).object();
    for (const QJsonValue &holder : record.value(QLatin1String("holders")).toArray())
        list << holder.toString();
    if (ok && *ok && !value.isEmpty()) {
        *ok = record.value(QLatin1String("total_slots")).toInt() == SLOTS;
    }
    return list;
}

int TestFleet::totalRestarts() const
{
    int total = 0;
    for (const auto &machine : m_machines)
        total += machine->restarts;
    return total;
}

void TestFleet::carryOutRestarts()
{
    for (const auto &machine : m_machines) {
        if (machine->logind->reboots <= machine->restarts || !m_failure.isEmpty())
            continue;
        // A machine goes down once the login manager has taken the restart
        // on: the metrics tell that the daemon saw it so.
        if (machine->metric(QStringLiteral("kirta_update_restart_successes_total")) < 1)
            continue;
        if (machine->metric(QStringLiteral("kirta_update_restart_attempts_total")) != 1) {
            m_failure = machine->id + QStringLiteral(": not one restart attempt:\n")
                        + machine->metrics();
            return;
        }
        machine->daemon->terminate();
        // What the offline upgrade leaves at the upgrade boot.
        SandboxTree &tree = *machine->tree;
        QFile::remove(tree.path(QStringLiteral("/system-update")));
        QFile::remove(tree.path(STATE_DIR + QStringLiteral("upgradable")));
        tree.writeFile(STATE_DIR + QStringLiteral("upgrade_ran"), QByteArray());
        tree.writeFile(STATE_DIR + QStringLiteral("successful"), QByteArray());
        tree.writeFile(QStringLiteral("/standin/systemctl.list-units.output"),
                       machine->breaksOnUpgrade
                               ? QByteArray("web.service loaded failed failed Web server\n")
                               : QByteArray());
        tree.writeFile(QStringLiteral("/standin/systemctl.is-system-running.output"),
                       machine->breaksOnUpgrade ? QByteArray("degraded\n")
                                                : QByteArray("running\n"));
        ++machine->restarts;
        if (!startDaemon(*machine))
            m_failure = machine->id + QStringLiteral(" did not come back: ")
                        + machine->daemon->diagnostics();
    }
}

bool TestFleet::drive(const std::function<bool()> &done, int timeoutMs, const char *what)
{
    const bool reached = waitUntil(
            [&] {
                carryOutRestarts();
                if (m_etcdUp && (!m_lastSample.isValid() || m_lastSample.hasExpired(250))) {
                    m_lastSample.start();
                    bool ok = false;
                    const QStringList now = holders(&ok);
                    if (ok && now.size() > m_maxHolders)
                        m_maxHolders = now.size();
                    if (ok && now.size() > SLOTS)
                        m_failure = QStringLiteral("holders at once: ") + now.join(' ');
                }
                return !m_failure.isEmpty() || done();
            },
            timeoutMs);
    if (!m_failure.isEmpty()) {
        qWarning("%s", qPrintable(m_failure));
        return false;
    }
    if (!reached) {
        qWarning("Timed out waiting for: %s", what);
        for (const auto &machine : m_machines)
            qWarning("%s: restarts %d, status %s", qPrintable(machine->id), machine->restarts,
                     QJsonDocument(QJsonObject::fromVariantMap(statusOf(*machine)))
                             .toJson(QJsonDocument::Compact)
                             .constData());
    }
    return reached;
}

int TestFleet::ctl(const Machine &machine, const QStringList &arguments, QString *output)
{
    QProcess process;
    QProcessEnvironment environment = withLocale(QProcessEnvironment::systemEnvironment());
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), machine.bus->address());
    startUpdateCtl(process, arguments, environment);
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

void TestFleet::fleetRestartsTwoAtATime()
{
    auto restarted
            = [this](int count) { return [this, count] { return totalRestarts() >= count; }; };
    auto say = [](const Machine &machine, const char *property) {
        return statusOf(machine).value(QLatin1String(property)).toString();
    };

    // The first two machines to restart come back with a broken unit; they
    // keep their slots from the grant on, so no third can restart meanwhile.
    for (const auto &machine : m_machines)
        QVERIFY2(startDaemon(*machine), qPrintable(machine->id));
    QVERIFY(drive(restarted(2), STEP_MS, "two restarts"));
    std::vector<Machine *> broken, waiting;
    for (const auto &machine : m_machines) {
        machine->breaksOnUpgrade = machine->restarts == 1;
        (machine->restarts == 1 ? broken : waiting).push_back(machine.get());
    }
    QCOMPARE(int(broken.size()), 2);

    // Unhealthy after the upgrade boot, both keep their slots: the other
    // three wait, asking again and again, and nothing restarts.
    QVERIFY(drive(
            [&] {
                for (Machine *machine : broken) {
                    if (!say(*machine, "RebootLockText")
                                 .startsWith(QLatin1String("kept: the system is unhealthy")))
                        return false;
                }
                for (Machine *machine : waiting) {
                    if (machine->metric(QStringLiteral(
                                "kirta_update_reboot_lock_errors_total{kind=\"full\"}"))
                                < 1
                        && machine->metric(QStringLiteral(
                                   "kirta_update_reboot_lock_errors_total{kind=\"server\"}"))
                                   < 1)
                        return false;
                }
                return true;
            },
            STEP_MS, "the unhealthy machines keeping their slots, the others refused"));
    bool ok = false;
    QStringList expected {broken[0]->id, broken[1]->id};
    expected.sort();
    QCOMPARE(holders(&ok), expected);
    QVERIFY(ok);
    QMap<Machine *, qint64> asked;
    for (Machine *machine : waiting)
        asked[machine] = machine->metric(
                QStringLiteral("kirta_update_reboot_lock_requests_total{request=\"acquire\"}"));
    QVERIFY(drive(
            [&] {
                for (Machine *machine : waiting) {
                    if (machine->metric(QStringLiteral(
                                "kirta_update_reboot_lock_requests_total{request=\"acquire\"}"))
                        < asked[machine] + 3)
                        return false;
                }
                return true;
            },
            STEP_MS, "three more requests of each waiting machine"));
    QCOMPARE(totalRestarts(), 2);
    for (Machine *machine : waiting) {
        const QString blocker = say(*machine, "RestartBlocker");
        const QString why = machine->viaFleetLock ? QStringLiteral("failed_lock: semaphore "
                                                                   "currently fully held")
                                                  : QStringLiteral("fleet: 2 of 2 slots held");
        QVERIFY2(blocker.startsWith(QLatin1String("waiting for the fleet lock ("))
                         && blocker.contains(why),
                 qPrintable(machine->id + ": " + blocker));
        QVERIFY(!statusOf(*machine).value(QStringLiteral("RebootLockHeld")).toBool());
    }
    // What the person at the broken machine sees.
    QString shown;
    QCOMPARE(ctl(*broken[0], {"status"}, &shown), 0);
    QVERIFY2(shown.contains(QRegularExpression(
                     "\nFleet lock:  slot held since [^\n]+; kept: the system is unhealthy after "
                     "the upgrade \\(unit web.service failed\\); kirta-update-ctl release-lock "
                     "gives it back\n")),
             qPrintable(shown));
    QCOMPARE(ctl(*broken[0], {"status", "--json"}, &shown), 0);
    const QJsonObject json = QJsonDocument::fromJson(shown.toUtf8()).object();
    QCOMPARE(json.value("reboot_lock_held"), QJsonValue(true));
    QVERIFY(json.value("reboot_lock_since").toDouble() > 0);
    QVERIFY(json.value("reboot_lock_text").toString().startsWith("kept: the system is unhealthy"));

    // Root lets one slot go: the others follow one at a time. One etcd
    // member dies after the next restart; the rest carries on.
    QCOMPARE(ctl(*broken[0], {"release-lock"}, &shown), 0);
    QVERIFY(drive(
            [&] { return !statusOf(*broken[0]).value(QStringLiteral("RebootLockHeld")).toBool(); },
            STEP_MS, "the slot given back by hand"));
    QVERIFY(drive(restarted(3), STEP_MS, "a third restart"));
    m_etcd->stopMember(0);
    QVERIFY(drive(restarted(4), STEP_MS, "a fourth restart, one etcd member down"));
    // Back and healthy, the fourth gives its slot back.
    Machine *last = nullptr;
    for (Machine *machine : waiting) {
        if (machine->restarts == 0)
            last = machine;
    }
    QVERIFY(last);
    QVERIFY(drive(
            [&] {
                bool known = false;
                return holders(&known) == QStringList {broken[1]->id} && known;
            },
            STEP_MS, "only the second unhealthy machine holding a slot"));

    // The whole cluster gone: the last machine waits and says why, nothing
    // restarts; it goes on when etcd is back.
    m_etcdUp = false;
    m_etcd->stopAll();
    const QString lostKind
            = last->viaFleetLock ? QStringLiteral("server") : QStringLiteral("unreachable");
    const QString lostSeries
            = QStringLiteral("kirta_update_reboot_lock_errors_total{kind=\"%1\"}").arg(lostKind);
    const qint64 lostBefore = last->metric(lostSeries);
    QVERIFY(drive([&] { return last->metric(lostSeries) >= lostBefore + 2; }, STEP_MS,
                  "two failed requests while etcd is down"));
    const QString blocker = say(*last, "RestartBlocker");
    QVERIFY2(blocker.startsWith(QLatin1String("waiting for the fleet lock ("))
                     && blocker.contains(QLatin1String("no etcd endpoint answered")),
             qPrintable(blocker));
    QCOMPARE(totalRestarts(), 4);
    QCOMPARE(last->logind->reboots, 0);
    QString error;
    for (int i = 0; i < EtcdCluster::MEMBERS; ++i)
        QVERIFY2(m_etcd->startMember(i, &error), qPrintable(error));
    QVERIFY2(m_etcd->awaitServing(&error), qPrintable(error));
    m_etcdUp = true;
    QVERIFY(drive(restarted(5), STEP_MS, "the last restart, etcd back"));
    QVERIFY(drive(
            [&] {
                bool known = false;
                return holders(&known) == QStringList {broken[1]->id} && known;
            },
            STEP_MS, "the last machine giving its slot back"));

    // The second broken machine keeps the group's slot until root says.
    QCOMPARE(ctl(*broken[1], {"release-lock"}, &shown), 0);
    QVERIFY(drive(
            [&] {
                bool known = false;
                return holders(&known).isEmpty() && known;
            },
            STEP_MS, "every slot free"));
    for (const auto &machine : m_machines) {
        QCOMPARE(machine->logind->reboots, 1);
        QCOMPARE(machine->restarts, 1);
    }
    QVERIFY(m_maxHolders <= SLOTS);
    // Both backends took part: requests reached the FleetLock server.
    QVERIFY(!m_server->requests().isEmpty());

    // The metrics of a machine after its upgrade boot, and the file's form:
    // every series has its help and type, counters end in _total and only
    // they do, times are in seconds.
    const Machine &machine = *m_machines.front();
    const QString text = machine.metrics();
    QVERIFY(machine.metric(QStringLiteral("kirta_update_last_success_seconds"))
            > QDateTime::currentSecsSinceEpoch() - 600);
    QVERIFY(machine.metric(QStringLiteral("kirta_update_state_changed_seconds"))
            > QDateTime::currentSecsSinceEpoch() - 600);
    QCOMPARE(machine.metric(QStringLiteral("kirta_update_reboot_lock_held")), qint64(0));
    QCOMPARE(machine.metric(QStringLiteral("kirta_update_restart_attempts_total")), qint64(0));
    QCOMPARE(machine.metric(QStringLiteral("kirta_update_health{result=\"healthy\"}"))
                     + machine.metric(QStringLiteral("kirta_update_health{result=\"unhealthy\"}")),
             qint64(1));
    QMap<QString, QString> types;
    QSet<QString> helped, series;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(' ');
        if (line.startsWith(QLatin1String("# HELP "))) {
            helped.insert(words.value(2));
        } else if (line.startsWith(QLatin1String("# TYPE "))) {
            QVERIFY2(!types.contains(words.value(2)), qPrintable(line));
            types.insert(words.value(2), words.value(3));
        } else {
            const QString name = line.section(QRegularExpression("[{ ]"), 0, 0);
            QVERIFY2(types.contains(name) && helped.contains(name), qPrintable(line));
            QVERIFY2(!series.contains(line.section(' ', 0, 0)), qPrintable(line));
            series.insert(line.section(' ', 0, 0));
            QCOMPARE(types.value(name) == QLatin1String("counter"),
                     name.endsWith(QLatin1String("_total")));
            QVERIFY2(QRegularExpression("^[a-z_]+(\\{.*\\})? -?\\d+$").match(line).hasMatch(),
                     qPrintable(line));
        }
    }
    for (const char *name :
         {"kirta_update_reboot_lock_requests_total", "kirta_update_reboot_lock_errors_total",
          "kirta_update_restart_attempts_total", "kirta_update_restart_successes_total"})
        QCOMPARE(types.value(QLatin1String(name)), QStringLiteral("counter"));
    QCOMPARE(types.value("kirta_update_start_time_seconds"), QStringLiteral("gauge"));
}

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
