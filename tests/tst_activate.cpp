// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "buscontract.h"
#include "dbusservice.h"
#include "privatebus.h"
#include "sandbox.h"
#include "unitfilechange.h"
#include "waituntil.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMetaType>
#include <QProcess>
#include <QtTest>

// The tool runs as a child on the test's private bus. Every outside party it
// talks to lives in this process, on one connection of its own, and answers
// while the test waits for the child with events flowing.

namespace {
const char *const FAKES_CONNECTION = "activate-fakes";
const char *const DAEMON_SERVICE = BusContract::SERVICE;
const char *const DAEMON_PATH = BusContract::PATH;
const char *const SYSTEMD_SERVICE = "org.freedesktop.systemd1";
const char *const SYSTEMD_PATH = "/org/freedesktop/systemd1";
const char *const STATUS_FILE = "/var/cache/kirta-update-service/status";
const char *const REPORT_FILE = "/var/cache/kirta-upgrade/upgrade.report.yaml";
const char *const DISABLE_CALL = "DisableUnitFiles [kirta-activate-update.service] false";
const int PAUSE_MS = 30;
const int RUN_MS = 60000;

QString attemptLines(int count, const char *format)
{
    QString lines;
    for (int i = 1; i <= count; ++i)
        lines += QString::asprintf(format, i);
    return lines;
}
} // namespace

// Every call any fake receives, in arrival order.
using CallLog = QStringList;

class FakeManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public:
    CallLog *log = nullptr;

public Q_SLOTS:
    QList<UnitFileChange> DisableUnitFiles(const QStringList &files, bool runtime)
    {
        *log << QStringLiteral("DisableUnitFiles [%1] %2")
                        .arg(files.join(QLatin1Char(',')),
                             runtime ? QStringLiteral("true") : QStringLiteral("false"));
        return {};
    }
    void Reload() { *log << QStringLiteral("Reload"); }
};

// The update daemon: "ready" (4) until armed; once armed it keeps answering
// 4 for `pollsUntilArmed` more queries and then `armedState`. The first
// `errorReplies` queries get an error reply.
class FakeDaemon : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupdateservice")
public:
    CallLog *log = nullptr;
    int pollsUntilArmed = 0;
    int armedState = 5;
    int errorReplies = 0;
    bool armed = false;
    int armings = 0;

public Q_SLOTS:
    int enableUpgradeOnReboot()
    {
        *log << QStringLiteral("enableUpgradeOnReboot");
        ++armings;
        armed = true;
        return -5;
    }
    int getCurrentStateAsInt()
    {
        *log << QStringLiteral("getCurrentStateAsInt");
        if (errorReplies > 0) {
            --errorReplies;
            sendErrorReply(QDBusError::Failed, QStringLiteral("busy"));
            return 0;
        }
        if (!armed)
            return 4;
        if (pollsUntilArmed > 0) {
            --pollsUntilArmed;
            return 4;
        }
        return armedState;
    }
};

// The major-release upgrade tool: records the requests and, when told to,
// reports the upgrade as armed.
class FakeUpgradeTool : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupgrade")
public:
    CallLog *log = nullptr;
    QString reportPath;
    bool armsOnRequest = false;

public Q_SLOTS:
    void changeUpgradeState(bool enabled)
    {
        *log << QStringLiteral("changeUpgradeState %1").arg(enabled);
        if (enabled && armsOnRequest) {
            QFile report(reportPath);
            if (report.open(QIODevice::WriteOnly | QIODevice::Truncate))
                report.write("upgrade_mode: 4\n");
        }
    }
};

class TestActivate : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;
    SandboxTree m_tree;
    CallLog m_log;
    FakeManager m_manager;
    FakeDaemon m_daemon;
    FakeUpgradeTool m_upgradeTool;
    QProcess m_tool;
    QByteArray m_out;
    QByteArray m_err;

    static QDBusConnection fakes() { return QDBusConnection(QLatin1String(FAKES_CONNECTION)); }

    static void setOnBus(const char *service, bool present)
    {
        QDBusConnection bus = fakes();
        if (bus.interface()->isServiceRegistered(QLatin1String(service)) == present)
            return;
        QVERIFY(present ? bus.registerService(QLatin1String(service))
                        : bus.unregisterService(QLatin1String(service)));
    }

    bool writeStatus(const QString &status)
    {
        return m_tree.writeFile(QLatin1String(STATUS_FILE),
                                QStringLiteral("[General]\nstatus=%1\n").arg(status));
    }

    void startTool(const QProcessEnvironment &environment)
    {
        m_tool.setProcessEnvironment(environment);
        m_tool.start(QProcessEnvironment::systemEnvironment().value(QStringLiteral("KIRTA_BIN_DIR"))
                             + QStringLiteral("/kirta-activate-update"),
                     QStringList());
        QVERIFY2(m_tool.waitForStarted(), qPrintable(m_tool.errorString()));
    }

    void startTool()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KIRTA_ACTIVATE_PAUSE_MS"), QString::number(PAUSE_MS));
        startTool(environment);
    }

    // Collects the child's output while events flow; false while it runs.
    bool collect()
    {
        m_out += m_tool.readAllStandardOutput();
        m_err += m_tool.readAllStandardError();
        return m_tool.state() == QProcess::NotRunning;
    }

    // The exit code once the child ended by itself.
    int finish()
    {
        if (!waitUntil([this] { return collect(); }, RUN_MS)) {
            m_tool.kill();
            m_tool.waitForFinished();
            return -1;
        }
        collect();
        return m_tool.exitStatus() == QProcess::NormalExit ? m_tool.exitCode() : -2;
    }

    QStringList daemonCalls() const
    {
        return m_log.filter(QRegularExpression(
                QStringLiteral("^(enableUpgradeOnReboot|getCurrentStateAsInt)$")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
        qDBusRegisterMetaType<UnitFileChange>();
        qDBusRegisterMetaType<QList<UnitFileChange>>();
        QDBusConnection bus
                = QDBusConnection::connectToBus(m_bus.address(), QLatin1String(FAKES_CONNECTION));
        QVERIFY(bus.isConnected());
        m_manager.log = m_daemon.log = m_upgradeTool.log = &m_log;
        QVERIFY(bus.registerObject(QLatin1String(SYSTEMD_PATH), &m_manager,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(QLatin1String(DAEMON_PATH), &m_daemon,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(QLatin1String(ZunAdmin::DbusService::PATH), &m_upgradeTool,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QLatin1String(SYSTEMD_SERVICE)));
    }

    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_log.clear();
        m_out.clear();
        m_err.clear();
        m_daemon.pollsUntilArmed = 0;
        m_daemon.armedState = 5;
        m_daemon.errorReplies = 0;
        m_daemon.armed = false;
        m_daemon.armings = 0;
        m_upgradeTool.reportPath = m_tree.path(QLatin1String(REPORT_FILE));
        m_upgradeTool.armsOnRequest = false;
        setOnBus(DAEMON_SERVICE, true);
        setOnBus(ZunAdmin::DbusService::SERVICE, true);
    }

    void cleanup()
    {
        if (m_tool.state() != QProcess::NotRunning) {
            m_tool.kill();
            m_tool.waitForFinished();
        }
    }

    void cleanupTestCase() { QDBusConnection::disconnectFromBus(QLatin1String(FAKES_CONNECTION)); }

    void minor_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("daemonOnBus");
        QTest::addColumn<int>("pollsUntilArmed");
        QTest::addColumn<int>("armedState");
        QTest::addColumn<int>("errorReplies");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("attempts");
        QTest::newRow("activated at the first query") << "ready" << true << 0 << 5 << 0 << 0 << 1;
        QTest::newRow("forced after three polls") << "ready" << true << 3 << 6 << 0 << 0 << 4;
        QTest::newRow("error replies count as not armed")
                << "ready" << true << 0 << 5 << 2 << 0 << 3;
        QTest::newRow("no daemon") << "activated" << false << 1000 << 5 << 0 << 30 << 60;
        QTest::newRow("daemon stays ready") << "activated" << true << 1000 << 5 << 0 << 30 << 60;
    }

    void minor()
    {
        QFETCH(QString, status);
        QFETCH(bool, daemonOnBus);
        QFETCH(int, exitCode);
        QFETCH(int, attempts);
        QVERIFY(writeStatus(status));
        setOnBus(DAEMON_SERVICE, daemonOnBus);
        QFETCH(int, pollsUntilArmed);
        QFETCH(int, armedState);
        QFETCH(int, errorReplies);
        m_daemon.pollsUntilArmed = pollsUntilArmed;
        m_daemon.armedState = armedState;
        m_daemon.errorReplies = errorReplies;

        startTool();
        QCOMPARE(finish(), exitCode);
        QCOMPARE(QString::fromUtf8(m_out), QStringLiteral("activating minor\n"));
        QCOMPARE(QString::fromUtf8(m_err),
                 attemptLines(attempts, "try number: %d sleep returned: 0\n"));
        QCOMPARE(m_log.count(QStringLiteral("getCurrentStateAsInt")), daemonOnBus ? attempts : 0);
        // The unit is disabled before the daemon hears of the tool, and an
        // answering daemon is asked to arm exactly once.
        QCOMPARE(m_daemon.armings, daemonOnBus ? 1 : 0);
        if (daemonOnBus)
            QCOMPARE(m_log.mid(0, 3),
                     (QStringList {QLatin1String(DISABLE_CALL), QStringLiteral("Reload"),
                                   QStringLiteral("enableUpgradeOnReboot")}));
    }

    // The daemon is away for a while: the request made meanwhile is lost,
    // so it is made again once the daemon answers.
    void daemonAway_data()
    {
        QTest::addColumn<bool>("presentAtStart");
        QTest::addColumn<int>("armings");
        QTest::newRow("appears after three attempts") << false << 1;
        QTest::newRow("restarts while arming") << true << 2;
    }

    void daemonAway()
    {
        QFETCH(bool, presentAtStart);
        QFETCH(int, armings);
        QVERIFY(writeStatus(QStringLiteral("ready")));
        setOnBus(DAEMON_SERVICE, presentAtStart);
        m_daemon.pollsUntilArmed = 1000; // a restart forgets an arming in progress

        startTool();
        if (presentAtStart) {
            KIRTA_WAIT_VERIFY(collect() || m_daemon.armings == 1, RUN_MS);
            setOnBus(DAEMON_SERVICE, false);
            m_daemon.armed = false;
        }
        collect();
        const int away = m_err.count('\n') + 3;
        KIRTA_WAIT_VERIFY(collect() || m_err.count('\n') >= away, RUN_MS);
        m_daemon.pollsUntilArmed = 1;
        setOnBus(DAEMON_SERVICE, true);

        QCOMPARE(finish(), 0);
        QCOMPARE(QString::fromUtf8(m_out), QStringLiteral("activating minor\n"));
        const int attempts = m_err.count('\n');
        QVERIFY2(attempts >= 3 && attempts < 60, m_err.constData());
        QCOMPARE(QString::fromUtf8(m_err),
                 attemptLines(attempts, "try number: %d sleep returned: 0\n"));
        QCOMPARE(m_daemon.armings, armings);
        // Armed by the last request, then one ready answer and the armed one.
        QCOMPARE(daemonCalls().mid(daemonCalls().size() - 4),
                 (QStringList {QStringLiteral("getCurrentStateAsInt"),
                               QStringLiteral("enableUpgradeOnReboot"),
                               QStringLiteral("getCurrentStateAsInt"),
                               QStringLiteral("getCurrentStateAsInt")}));
    }

    void badState_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("report");
        QTest::newRow("nothing written") << QString() << QString();
        QTest::newRow("status without an update") << "downloading" << QString();
        QTest::newRow("no major upgrade, no minor one") << "none"
                                                        << "upgrade_mode: 0\n";
        QTest::newRow("major tool between states") << QString() << "upgrade_mode: 2\n";
    }

    void badState()
    {
        QFETCH(QString, status);
        QFETCH(QString, report);
        if (!status.isNull())
            QVERIFY(writeStatus(status));
        if (!report.isNull())
            QVERIFY(m_tree.writeFile(QLatin1String(REPORT_FILE), report));

        startTool();
        QCOMPARE(finish(), 12);
        QCOMPARE(QString::fromUtf8(m_out), QStringLiteral("bad state\n"));
        QCOMPARE(QString::fromUtf8(m_err), QString());
        QCOMPARE(m_log, (QStringList {QLatin1String(DISABLE_CALL), QStringLiteral("Reload")}));
    }

    void major_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("toolOnBus");
        QTest::addColumn<bool>("toolArms");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("armed on request") << 3 << true << true << 0;
        QTest::newRow("already armed") << 4 << true << false << 0;
        QTest::newRow("never armed") << 3 << true << false << 30;
        QTest::newRow("no upgrade tool") << 3 << false << false << 30;
    }

    void major()
    {
        QFETCH(int, mode);
        QFETCH(bool, toolOnBus);
        QFETCH(bool, toolArms);
        QFETCH(int, exitCode);
        // A downloaded minor update waits too; the major upgrade wins.
        QVERIFY(writeStatus(QStringLiteral("ready")));
        QVERIFY(m_tree.writeFile(QLatin1String(REPORT_FILE),
                                 QStringLiteral("upgrade_mode: %1\n").arg(mode)));
        setOnBus(ZunAdmin::DbusService::SERVICE, toolOnBus);
        m_upgradeTool.armsOnRequest = toolArms;

        startTool();
        QCOMPARE(finish(), exitCode);
        QVERIFY2(m_out.startsWith("activating major\n"), m_out.constData());
        const int attempts = m_out.count('\n') - 1;
        QCOMPARE(QString::fromUtf8(m_out),
                 QStringLiteral("activating major\n") + attemptLines(attempts, "try number:%d\n"));
        if (exitCode == 30)
            QCOMPARE(attempts, 60);
        else if (mode == 4)
            QCOMPARE(attempts, 1);
        else
            QVERIFY2(attempts < 60, m_out.constData());
        QCOMPARE(QString::fromUtf8(m_err), QString());
        QStringList expected {QLatin1String(DISABLE_CALL), QStringLiteral("Reload")};
        if (toolOnBus)
            expected << QStringLiteral("changeUpgradeState 1");
        // The tool may be gone before its last message is handled here.
        KIRTA_WAIT_VERIFY(m_log == expected, 5000);
    }

    void unusableSysroot_data()
    {
        QTest::addColumn<QString>("sysroot");
        QTest::newRow("unset") << QString();
        QTest::newRow("relative") << "var/root";
        QTest::newRow("missing") << "/nonexistent/kirta-activate-root";
    }

    void unusableSysroot()
    {
        QFETCH(QString, sysroot);
        QVERIFY(writeStatus(QStringLiteral("ready")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (sysroot.isNull())
            environment.remove(QStringLiteral("KIRTA_SYSROOT"));
        else
            environment.insert(QStringLiteral("KIRTA_SYSROOT"), sysroot);

        startTool(environment);
        QCOMPARE(finish(), 1);
        QCOMPARE(m_out, QByteArray());
        QVERIFY2(m_err.startsWith("kirta-activate-update: KIRTA_SYSROOT"), m_err.constData());
        QCOMPARE(m_err.count('\n'), 1);
        QVERIFY(m_log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestActivate)
#include "tst_activate.moc"
