// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The restart policy against python3-dbusmock's login manager and power
// daemon on a private system bus: what holds a due restart back, in which
// order, how people logged in are told, who may postpone it, and the fleet
// lock; without the power daemon, the kernel's power_supply class. The
// policy's clock runs from a fixed moment inside the window.

#include "constants.h"
#include "currenttask.h"
#include "privatebus.h"
#include "rebootlock.h"
#include "restartconfig.h"
#include "restartpolicy.h"
#include "statussnapshot.h"
#include "sysroot.h"
#include "unusablerebootlock.h"
#include "waituntil.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <chrono>
#include <memory>

namespace {
const QString LOGIN1 = QStringLiteral("org.freedesktop.login1");
const QString LOGIN1_PATH = QStringLiteral("/org/freedesktop/login1");
const QString MANAGER = QStringLiteral("org.freedesktop.login1.Manager");
const QString UPOWER = QStringLiteral("org.freedesktop.UPower");
const QString MOCK = QStringLiteral("org.freedesktop.DBus.Mock");
const int START_TIMEOUT_MS = 15000;
const int WAIT_MS = 5000;
// Tuesday 9 June 2026, 02:30 in Berlin: inside "daily 02:00-04:00".
const QDateTime INSIDE = QDateTime::fromString(QStringLiteral("2026-06-09T00:30:00Z"), Qt::ISODate);

// A reboot lock that answers as the test says.
class FakeLock : public RebootLock
{
public:
    void acquire() override { ++requests; }
    void release() override { ++releases; }
    QString describe() const override { return QStringLiteral("test group"); }
    void grant() { Q_EMIT granted(); }
    void deny(const QString &why) { Q_EMIT denied(why); }

    int requests = 0;
    int releases = 0;
};
} // namespace

class TestRestartPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void nothingArmedAsksNobody_data();
    void nothingArmedAsksNobody();
    void inhibitorThenBatteryThenRestart();
    void peopleAreToldAndMayPostpone();
    void postponeAfterTheDeadlineIsRootOnly();
    void fleetLockComesLast();
    void misconfiguredLockWaitsUntilMended();
    void noRestartLoop_data();
    void noRestartLoop();
    // Stops the power daemon: declared last.
    void withoutPowerDaemonTheKernelCounts_data();
    void withoutPowerDaemonTheKernelCounts();

private:
    bool startMock(const QString &templateName, std::unique_ptr<QProcess> *process,
                   const QString &service);
    QDBusMessage mockCall(const QString &service, const QString &path, const QString &method,
                          const QVariantList &arguments = {});
    // The arguments of each call of logind's `method` so far.
    QList<QVariantList> calls(const QString &method);
    void setBattery(bool onBattery, double percent);
    std::shared_ptr<const StatusSnapshot> armed(const QDateTime &deadline, bool forced = false);
    RestartConfig config(RestartConfig::Mode mode, int announceMinutes = 15);
    std::unique_ptr<RestartPolicy> makePolicy(RebootLock *lock = nullptr);
    // A policy announcing 15 minutes ahead, with a person logged in on a seat.
    std::unique_ptr<RestartPolicy> policyWithSession(RestartConfig::Mode mode);

    PrivateBus m_bus;
    std::unique_ptr<QProcess> m_logind;
    std::unique_ptr<QProcess> m_upower;
    QElapsedTimer m_elapsed;
};

bool TestRestartPolicy::startMock(const QString &templateName, std::unique_ptr<QProcess> *process,
                                  const QString &service)
{
    *process = std::make_unique<QProcess>();
    (*process)->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    (*process)->start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                       QStringLiteral("--template"), templateName});
    if (!(*process)->waitForStarted(START_TIMEOUT_MS))
        return false;
    return waitUntil(
            [&] { return QDBusConnection::systemBus().interface()->isServiceRegistered(service); },
            START_TIMEOUT_MS);
}

void TestRestartPolicy::initTestCase()
{
    if (!QFile::exists(QStringLiteral("/usr/lib/python3/dist-packages/dbusmock")))
        QSKIP("python3-dbusmock is not installed");
    QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
    // The daemon's state directory, where a restart is recorded; the daemon
    // makes it at its start.
    QVERIFY(QDir().mkpath(QFileInfo(RESTARTED_FOR_MARK_PATH).absolutePath()));
    QVERIFY(startMock(QStringLiteral("logind"), &m_logind, LOGIN1));
    QVERIFY(startMock(QStringLiteral("upower"), &m_upower, UPOWER));
    // What the template lacks.
    for (const auto &method :
         {std::make_pair(QStringLiteral("ScheduleShutdown"), QStringLiteral("st")),
          std::make_pair(QStringLiteral("CancelScheduledShutdown"), QString())}) {
        const QDBusMessage added = mockCall(
                LOGIN1, LOGIN1_PATH, QStringLiteral("AddMethod"),
                {MANAGER, method.first, method.second,
                 method.first == QLatin1String("CancelScheduledShutdown") ? QStringLiteral("b")
                                                                          : QString(),
                 method.first == QLatin1String("CancelScheduledShutdown")
                         ? QStringLiteral("ret = True")
                         : QString()});
        QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));
    }
    m_elapsed.start();
}

void TestRestartPolicy::init()
{
    QVERIFY(mockCall(LOGIN1, LOGIN1_PATH, QStringLiteral("ClearCalls")).type()
            == QDBusMessage::ReplyMessage);
    if (m_upower && m_upower->state() == QProcess::Running)
        setBattery(false, 100);
}

void TestRestartPolicy::cleanup()
{
    // Sessions of one test do not stay for the next.
    mockCall(LOGIN1, LOGIN1_PATH, QStringLiteral("RemoveObject"),
             {QVariant::fromValue(
                     QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/c1")))});
}

void TestRestartPolicy::cleanupTestCase()
{
    for (auto *process : {m_logind.get(), m_upower.get()}) {
        if (process) {
            process->terminate();
            process->waitForFinished(WAIT_MS);
        }
    }
}

QDBusMessage TestRestartPolicy::mockCall(const QString &service, const QString &path,
                                         const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, MOCK, method);
    call.setArguments(arguments);
    return QDBusConnection::systemBus().call(call, QDBus::Block, WAIT_MS);
}

QList<QVariantList> TestRestartPolicy::calls(const QString &method)
{
    QList<QVariantList> result;
    const QDBusMessage reply
            = mockCall(LOGIN1, LOGIN1_PATH, QStringLiteral("GetMethodCalls"), {method});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return result;
    // a(tav): time stamp and the arguments.
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 stamp = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> stamp;
        list.beginArray();
        while (!list.atEnd()) {
            QDBusVariant value;
            list >> value;
            arguments << value.variant();
        }
        list.endArray();
        list.endStructure();
        result << arguments;
    }
    list.endArray();
    return result;
}

void TestRestartPolicy::setBattery(bool onBattery, double percent)
{
    const auto set = [](const QString &path, const QString &interface, const QString &name,
                        const QVariant &value) {
        QDBusMessage call = QDBusMessage::createMethodCall(
                UPOWER, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Set"));
        call << interface << name << QVariant::fromValue(QDBusVariant(value));
        const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, WAIT_MS);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    };
    set(QStringLiteral("/org/freedesktop/UPower"), UPOWER, QStringLiteral("OnBattery"), onBattery);
    set(QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
        QStringLiteral("org.freedesktop.UPower.Device"), QStringLiteral("Percentage"), percent);
}

std::shared_ptr<const StatusSnapshot> TestRestartPolicy::armed(const QDateTime &deadline,
                                                               bool forced)
{
    auto snapshot = std::make_shared<StatusSnapshot>();
    snapshot->task = toInt(CurrentTask::DownloadCompleted);
    snapshot->armed = true;
    snapshot->deadline = deadline;
    snapshot->forcedMode = forced;
    return snapshot;
}

RestartConfig TestRestartPolicy::config(RestartConfig::Mode mode, int announceMinutes)
{
    RestartConfig config;
    config.mode = mode;
    config.window = MaintenanceWindow::parse(QStringLiteral("daily 02:00-04:00"));
    config.announce = std::chrono::minutes(announceMinutes);
    config.minBatteryPercent = 30;
    return config;
}

std::unique_ptr<RestartPolicy> TestRestartPolicy::makePolicy(RebootLock *lock)
{
    auto policy = std::make_unique<RestartPolicy>(QDBusConnection::systemBus(), lock);
    QElapsedTimer *elapsed = &m_elapsed;
    const qint64 base = elapsed->elapsed();
    policy->setClock([elapsed, base] { return INSIDE.addMSecs(elapsed->elapsed() - base); });
    policy->setTimeZone(QTimeZone("Europe/Berlin"));
    policy->setRecheckInterval(100);
    return policy;
}

std::unique_ptr<RestartPolicy> TestRestartPolicy::policyWithSession(RestartConfig::Mode mode)
{
    const QDBusMessage added = mockCall(
            LOGIN1, LOGIN1_PATH, QStringLiteral("AddSession"),
            {QStringLiteral("c1"), QStringLiteral("seat0"), 1000u, QStringLiteral("ada"), true});
    if (added.type() != QDBusMessage::ReplyMessage)
        return nullptr;
    auto policy = makePolicy();
    policy->setConfig(config(mode, 15));
    return policy;
}

void TestRestartPolicy::nothingArmedAsksNobody_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("isArmed");
    QTest::addColumn<QString>("blocker");

    QTest::newRow("never, armed") << int(RestartConfig::Mode::Never) << true << QString();
    QTest::newRow("in window, nothing armed")
            << int(RestartConfig::Mode::InWindow) << false << QString();
    QTest::newRow("after the deadline, deadline ahead")
            << int(RestartConfig::Mode::AfterDeadline) << true
            << QStringLiteral("waiting for the deadline, Wed 12:00");
}

void TestRestartPolicy::nothingArmedAsksNobody()
{
    QFETCH(int, mode);
    QFETCH(bool, isArmed);
    QFETCH(QString, blocker);

    FakeLock lock;
    auto policy = makePolicy(&lock);
    policy->setConfig(config(RestartConfig::Mode(mode)));
    auto snapshot = std::make_shared<StatusSnapshot>(*armed(INSIDE.addSecs(34 * 3600 - 1800)));
    snapshot->armed = isArmed;
    policy->follow(snapshot);
    QCOMPARE(policy->status().blocker, blocker);
    QCOMPARE(policy->status().planned, QDateTime());
    // Not even asked: no inhibitor list, no fleet lock, no restart.
    QTest::qWait(300);
    QCOMPARE(lock.requests, 0);
    QVERIFY(calls(QStringLiteral("ListInhibitors")).isEmpty());
    QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());
}

void TestRestartPolicy::inhibitorThenBatteryThenRestart()
{
    QDBusMessage inhibit = QDBusMessage::createMethodCall(LOGIN1, LOGIN1_PATH, MANAGER,
                                                          QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep:shutdown") << QStringLiteral("backup")
            << QStringLiteral("copying the disks") << QStringLiteral("block");
    auto held = std::make_unique<QDBusMessage>(
            QDBusConnection::systemBus().call(inhibit, QDBus::Block, WAIT_MS));
    QCOMPARE(held->type(), QDBusMessage::ReplyMessage);
    setBattery(true, 24);

    auto policy = makePolicy();
    policy->setConfig(config(RestartConfig::Mode::InWindow));
    policy->follow(armed(QDateTime()));
    QCOMPARE(policy->status().blocker, QStringLiteral("inhibited by backup: copying the disks"));
    QCOMPARE(policy->status().reason, QStringLiteral("inhibitor"));

    // The inhibitor ends; the battery is next.
    held.reset();
    KIRTA_WAIT_VERIFY(policy->status().blocker == QLatin1String("on battery (24 %)"), WAIT_MS);
    // A charge above the threshold would do, but so does mains.
    setBattery(false, 24);
    KIRTA_WAIT_VERIFY(!calls(QStringLiteral("Reboot")).isEmpty(), WAIT_MS);
    QCOMPARE(calls(QStringLiteral("Reboot")), QList<QVariantList>({{false}}));
    QVERIFY(calls(QStringLiteral("ScheduleShutdown")).isEmpty());
    QCOMPARE(policy->status().blocker, QStringLiteral("restarting now"));
}

void TestRestartPolicy::peopleAreToldAndMayPostpone()
{
    auto policy = policyWithSession(RestartConfig::Mode::InWindow);
    QVERIFY(policy);
    const QDateTime before = INSIDE.addSecs(15 * 60);
    policy->follow(armed(INSIDE.addDays(2)));
    const QList<QVariantList> scheduled = calls(QStringLiteral("ScheduleShutdown"));
    QCOMPARE(scheduled.size(), 1);
    QCOMPARE(scheduled.first().value(0).toString(), QStringLiteral("reboot"));
    const qint64 usec = scheduled.first().value(1).toLongLong();
    // Fifteen minutes from the policy's now, give or take the test's pace.
    QVERIFY2(usec >= before.toMSecsSinceEpoch() * 1000
                     && usec < before.addSecs(5).toMSecsSinceEpoch() * 1000,
             qPrintable(QString::number(usec)));
    QCOMPARE(policy->status().planned.toMSecsSinceEpoch(), usec / 1000);
    QCOMPARE(policy->status().blocker, QStringLiteral("users logged in, announced for 02:45"));
    // Re-checked while the notice runs, but announced once and not rebooted.
    QTest::qWait(400);
    QCOMPARE(calls(QStringLiteral("ScheduleShutdown")).size(), 1);
    QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());

    // A person postpones it before the deadline: called off, next window.
    QCOMPARE(policy->postpone(false, QStringLiteral("uid 1000")), int(RestartPolicy::Done));
    QCOMPARE(calls(QStringLiteral("CancelScheduledShutdown")).size(), 1);
    QCOMPARE(policy->status().blocker,
             QStringLiteral("outside the maintenance window, next Wed 02:00"));
    QCOMPARE(policy->status().planned, INSIDE.addSecs(24 * 3600 - 1800));
}

void TestRestartPolicy::postponeAfterTheDeadlineIsRootOnly()
{
    auto policy = policyWithSession(RestartConfig::Mode::AfterDeadline);
    QVERIFY(policy);
    policy->follow(armed(INSIDE.addDays(-1)));
    QCOMPARE(calls(QStringLiteral("ScheduleShutdown")).size(), 1);

    QCOMPARE(policy->postpone(false, QStringLiteral("uid 1000")),
             int(RestartPolicy::RefusedAfterDeadline));
    QVERIFY(calls(QStringLiteral("CancelScheduledShutdown")).isEmpty());
    QVERIFY(policy->status().blocker.startsWith(QLatin1String("users logged in, announced")));

    QCOMPARE(policy->postpone(true, QStringLiteral("uid 0")), int(RestartPolicy::Done));
    QCOMPARE(calls(QStringLiteral("CancelScheduledShutdown")).size(), 1);
    QCOMPARE(policy->status().reason, QStringLiteral("window"));

    // Root cancels: no restart at all until armed again.
    QCOMPARE(policy->cancel(QStringLiteral("uid 0")), int(RestartPolicy::Done));
    QCOMPARE(policy->status().planned, QDateTime());
    QCOMPARE(policy->status().reason, QStringLiteral("cancelled"));
    QCOMPARE(policy->postpone(true, QStringLiteral("uid 0")), int(RestartPolicy::NothingPlanned));
}

void TestRestartPolicy::fleetLockComesLast()
{
    FakeLock lock;
    auto policy = makePolicy(&lock);
    policy->setConfig(config(RestartConfig::Mode::InWindow));
    setBattery(true, 10);
    policy->follow(armed(QDateTime()));
    // Not asked while another guard fails.
    QCOMPARE(policy->status().reason, QStringLiteral("battery"));
    QCOMPARE(lock.requests, 0);

    setBattery(false, 10);
    KIRTA_WAIT_VERIFY(lock.requests == 1, WAIT_MS);
    QCOMPARE(policy->status().blocker, QStringLiteral("waiting for the fleet lock (test group)"));
    // Asked once while the answer is out, however often the policy looks.
    QTest::qWait(300);
    QCOMPARE(lock.requests, 1);

    lock.deny(QStringLiteral("web: 2 of 2 slots held"));
    QCOMPARE(policy->status().blocker,
             QStringLiteral("waiting for the fleet lock (web: 2 of 2 slots held)"));
    // Asked again at the next check, and nothing restarts meanwhile.
    KIRTA_WAIT_VERIFY(lock.requests == 2, WAIT_MS);
    QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());

    lock.grant();
    QCOMPARE(calls(QStringLiteral("Reboot")), QList<QVariantList>({{false}}));
    QCOMPARE(lock.releases, 0);
}

// Settings that ask for a lock but describe it wrongly: the machine waits
// and says why, and restarts once the settings give a lock that grants.
void TestRestartPolicy::misconfiguredLockWaitsUntilMended()
{
    UnusableRebootLock broken(QStringLiteral("Reboot_lock=etcd needs Reboot_lock_servers"));
    auto policy = makePolicy();
    policy->setLock(&broken);
    policy->setConfig(config(RestartConfig::Mode::InWindow));
    policy->follow(armed(QDateTime()));
    KIRTA_WAIT_VERIFY(policy->status().blocker
                              == QLatin1String("waiting for the fleet lock (the lock is "
                                               "misconfigured: Reboot_lock=etcd needs "
                                               "Reboot_lock_servers)"),
                      WAIT_MS);
    QCOMPARE(policy->status().reason, QStringLiteral("lock"));
    // Still waiting at the following checks.
    QTest::qWait(300);
    QCOMPARE(policy->status().reason, QStringLiteral("lock"));
    QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());

    FakeLock mended;
    policy->setLock(&mended);
    KIRTA_WAIT_VERIFY(mended.requests == 1, WAIT_MS);
    mended.grant();
    QCOMPARE(calls(QStringLiteral("Reboot")), QList<QVariantList>({{false}}));
}

void TestRestartPolicy::noRestartLoop_data()
{
    QTest::addColumn<QString>("marked");
    QTest::addColumn<bool>("beforeThisBoot");
    QTest::addColumn<QString>("postponedForPower");
    QTest::addColumn<QString>("blocker");

    QTest::newRow("nothing marked") << QString() << false << QString() << QString();
    QTest::newRow("the same release came back armed")
            << QStringLiteral("12.4") << true << QString()
            << QStringLiteral("the last automatic restart did not install 12.4; restart by hand "
                              "once the cause is mended");
    QTest::newRow("another release was marked")
            << QStringLiteral("12.3") << true << QString() << QString();
    QTest::newRow("marked in this boot: a restart under way")
            << QStringLiteral("12.4") << false << QString() << QString();
    QTest::newRow("the install boot waited for power")
            << QStringLiteral("12.4") << true << QStringLiteral("battery BAT0 at 5 %") << QString();
    QTest::newRow("the mark cannot be written") << QStringLiteral("/") << false << QString()
                                                << QStringLiteral("cannot record the restart: ");
}

// A restart that came back with its release still armed and no word from
// the offline upgrade (a read-only root, a boot that skipped the upgrade)
// is not made again, or the machine would restart for ever.
void TestRestartPolicy::noRestartLoop()
{
    QFETCH(QString, marked);
    QFETCH(bool, beforeThisBoot);
    QFETCH(QString, postponedForPower);
    QFETCH(QString, blocker);

    const QString mark = RESTARTED_FOR_MARK_PATH;
    QDir(mark).removeRecursively();
    QFile::remove(mark);
    if (marked == QLatin1String("/")) {
        // A directory in its place: nothing can be written there.
        QVERIFY(QDir().mkpath(mark));
    } else if (!marked.isEmpty()) {
        QFile file(mark);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(marked.toUtf8() + '\n');
        QVERIFY(file.flush());
        if (beforeThisBoot)
            QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(86400),
                                     QFileDevice::FileModificationTime));
    }

    auto policy = makePolicy();
    policy->setConfig(config(RestartConfig::Mode::InWindow));
    auto snapshot = std::make_shared<StatusSnapshot>(*armed(QDateTime()));
    snapshot->version = QStringLiteral("12.4");
    snapshot->power.postponedForPower = postponedForPower;
    policy->follow(snapshot);
    if (blocker.isEmpty()) {
        KIRTA_WAIT_VERIFY(!calls(QStringLiteral("Reboot")).isEmpty(), WAIT_MS);
        // Recorded for the boot that follows.
        QFile file(mark);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("12.4\n"));
    } else {
        QVERIFY2(policy->status().blocker.startsWith(blocker),
                 qPrintable(policy->status().blocker));
        QTest::qWait(300);
        QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());
    }
    QDir(mark).removeRecursively();
    QFile::remove(mark);
}

void TestRestartPolicy::withoutPowerDaemonTheKernelCounts_data()
{
    // Supplies as "name type status capacity online scope" words ("-" for
    // an attribute the kernel leaves out); the charge the policy must see
    // as the battery's, or -1 for a restart at once.
    QTest::addColumn<QStringList>("supplies");
    QTest::addColumn<int>("percent");

    QTest::newRow("discharging below the threshold, mains off")
            << QStringList {QStringLiteral("BAT0 Battery Discharging 12 - System"),
                            QStringLiteral("AC Mains - - 0 -")}
            << 12;
    QTest::newRow("the lowest of two batteries counts")
            << QStringList {QStringLiteral("BAT0 Battery Discharging 80 - -"),
                            QStringLiteral("BAT1 Battery Discharging 15 - -")}
            << 15;
    QTest::newRow("low, but mains online")
            << QStringList {QStringLiteral("BAT0 Battery Discharging 12 - -"),
                            QStringLiteral("AC Mains - - 1 -")}
            << -1;
    QTest::newRow("low, but a USB supply online")
            << QStringList {QStringLiteral("BAT0 Battery Discharging 12 - -"),
                            QStringLiteral("ucsi-source-psy-USBC000:001 USB - - 1 -")}
            << -1;
    QTest::newRow("only a mouse's battery is low")
            << QStringList {QStringLiteral("hidpp_battery_0 Battery Discharging 5 - Device")} << -1;
    QTest::newRow("charge unknown")
            << QStringList {QStringLiteral("BAT0 Battery Discharging - - -")} << -1;
    QTest::newRow("above the threshold")
            << QStringList {QStringLiteral("BAT0 Battery Discharging 31 - -")} << -1;
    QTest::newRow("no power supply class") << QStringList() << -1;
}

void TestRestartPolicy::withoutPowerDaemonTheKernelCounts()
{
    QFETCH(QStringList, supplies);
    QFETCH(int, percent);

    if (m_upower && m_upower->state() == QProcess::Running) {
        m_upower->terminate();
        QVERIFY(m_upower->waitForFinished(WAIT_MS));
        KIRTA_WAIT_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(UPOWER),
                          WAIT_MS);
    }
    QDir classDir(Sysroot::path(QStringLiteral("/sys/class/power_supply")));
    QVERIFY(classDir.removeRecursively());
    const auto write = [](const QString &path, const QString &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toLatin1() + '\n') > 0;
    };
    QString mains;
    for (const QString &supply : supplies) {
        const QStringList words = supply.split(QLatin1Char(' '));
        QCOMPARE(words.size(), 6);
        const QString dir = classDir.filePath(words[0]);
        QVERIFY(QDir().mkpath(dir));
        const QStringList names {QStringLiteral("type"), QStringLiteral("status"),
                                 QStringLiteral("capacity"), QStringLiteral("online"),
                                 QStringLiteral("scope")};
        for (int i = 0; i < names.size(); ++i) {
            if (words[i + 1] != QLatin1String("-"))
                QVERIFY(write(dir + QLatin1Char('/') + names[i], words[i + 1]));
        }
        if (words[1] == QLatin1String("Mains"))
            mains = dir + QStringLiteral("/online");
    }

    auto policy = makePolicy();
    policy->setConfig(config(RestartConfig::Mode::InWindow));
    policy->follow(armed(QDateTime()));
    if (percent < 0) {
        KIRTA_WAIT_VERIFY(!calls(QStringLiteral("Reboot")).isEmpty(), WAIT_MS);
        QCOMPARE(policy->status().blocker, QStringLiteral("restarting now"));
        return;
    }
    QCOMPARE(policy->status().blocker, QStringLiteral("on battery (%1 %)").arg(percent));
    // Asked again at each check, and still held back.
    QTest::qWait(300);
    QVERIFY(calls(QStringLiteral("Reboot")).isEmpty());
    if (!mains.isEmpty()) {
        // The charger plugged in: the next check restarts.
        QVERIFY(write(mains, QStringLiteral("1")));
        KIRTA_WAIT_VERIFY(!calls(QStringLiteral("Reboot")).isEmpty(), WAIT_MS);
    }
}

QTEST_GUILESS_MAIN(TestRestartPolicy)
#include "tst_restartpolicy.moc"
