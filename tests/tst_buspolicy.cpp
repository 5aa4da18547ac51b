// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The shipped bus policy on a dbus-daemon configured like a system bus:
// who may own the daemon's name and who may call which of its methods, and
// what polkit (python3-dbusmock's polkitd, or none) decides for callers
// other than root. Callers other than root are played by "gdbus" run as the
// user nobody, once plainly and once as a member of a group that an
// administrator's policy file grants the changing methods.

#include "buscontract.h"
#include "daemonprocess.h"
#include "privatebus.h"
#include "sandbox.h"
#include "statewait.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {
const QString SERVICE = QLatin1String(BusContract::SERVICE);
const QString OBJECT_PATH = QLatin1String(BusContract::PATH);
const QString CONFIG_PATH = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString POLICY_FILE = QStringLiteral("/data/os.kirtalinux.zun.kirtaupdateservice.conf");
const QString ACCESS_DENIED = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
const char *const ROOT_CONNECTION = "policy-root";
// An existing group that no test caller but the granted one has.
const char *const GRANTED_GROUP = "adm";
const QString ROOT = QStringLiteral("root");
const QString NOBODY = QStringLiteral("nobody");
const QString GRANTED = QStringLiteral("nobody in the granted group");
// Polkit column: no polkit on the bus at all.
const QString NO_POLKIT = QStringLiteral("-");
const QString POLKIT_SERVICE = QStringLiteral("org.freedesktop.PolicyKit1");
const QString ACTION = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice.");
const int START_TIMEOUT_MS = 15000;
const int CALL_TIMEOUT_MS = 10000;

// The rules a distribution's system bus starts from: nobody owns names or
// calls methods unless a policy file says so.
const char *const BUS_CONFIG
        = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
          "<busconfig>\n"
          "  <type>system</type>\n"
          "  <listen>unix:path=%1</listen>\n"
          "  <auth>EXTERNAL</auth>\n"
          "  <policy context=\"default\">\n"
          "    <allow user=\"*\"/>\n"
          "    <deny own=\"*\"/>\n"
          "    <deny send_type=\"method_call\"/>\n"
          "    <allow send_type=\"signal\"/>\n"
          "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
          "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
          "    <allow receive_type=\"method_call\"/>\n"
          "    <allow receive_type=\"method_return\"/>\n"
          "    <allow receive_type=\"error\"/>\n"
          "    <allow receive_type=\"signal\"/>\n"
          "    <allow send_destination=\"org.freedesktop.DBus\" "
          "send_interface=\"org.freedesktop.DBus\"/>\n"
          "    <allow send_destination=\"org.freedesktop.DBus\"\n"
          "           send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
          "    <allow send_destination=\"org.freedesktop.DBus\" "
          "send_interface=\"org.freedesktop.DBus.Peer\"/>\n"
          "  </policy>\n"
          "  <policy user=\"root\">\n"
          "    <allow own=\"org.freedesktop.PolicyKit1\"/>\n"
          "    <allow send_destination=\"org.freedesktop.PolicyKit1\"/>\n"
          "  </policy>\n"
          "  <include>%2</include>\n"
          "  <policy group=\"%3\">\n"
          "    <allow send_destination=\"os.kirtalinux.zun.kirtaupdateservice\"\n"
          "           send_interface=\"os.kirtalinux.zun.kirtaupdateservice\"/>\n"
          "  </policy>\n"
          "</busconfig>\n";

const QString CONFIG = QStringLiteral("T_check=60\n"
                                      "T_download_min=10\n"
                                      "T_download_max=120\n"
                                      "Action_on_error=Stop\n"
                                      "Snapshot=false\n"
                                      "Free_space_policy=2\n"
                                      "Host_to_ping=127.0.0.1\n"
                                      "Log_level=debug\n");

struct GdbusResult
{
    int exitCode = -1;
    QString output;
};
} // namespace

class TestBusPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void calls_data();
    void calls();
    void owningTheName_data();
    void owningTheName();

private:
    // Runs gdbus on the policy bus as `caller` (ROOT, NOBODY or GRANTED).
    GdbusResult gdbus(const QString &caller, const QStringList &arguments) const;
    // NO_POLKIT, or the mock polkit allowing just `allowed` (a comma list).
    bool setPolkit(const QString &allowed);
    int polkitChecks() const;

    std::unique_ptr<QTemporaryDir> m_busDir;
    std::unique_ptr<QProcess> m_busProcess;
    std::unique_ptr<DaemonProcess> m_daemon;
    std::unique_ptr<QProcess> m_polkit;
    QString m_polkitLog;
    QString m_address;
    uint m_nobodyUid = 65534;
    uint m_nobodyGid = 65534;
    uint m_grantedGid = 0;
    SandboxTree m_tree;
};

void TestBusPolicy::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("The bus tells users apart by their uid: this test must run as root to play both "
              "root and another user.");
    if (const passwd *nobody = ::getpwnam("nobody")) {
        m_nobodyUid = nobody->pw_uid;
        m_nobodyGid = nobody->pw_gid;
    }
    const group *granted = ::getgrnam(GRANTED_GROUP);
    QVERIFY2(granted, GRANTED_GROUP);
    m_grantedGid = granted->gr_gid;
    const QString policy = QString::fromLocal8Bit(qgetenv("KIRTA_SOURCE_DIR")) + POLICY_FILE;
    QVERIFY2(QFileInfo::exists(policy), qPrintable(policy));

    // The socket must be reachable for the other user too.
    m_busDir = std::make_unique<QTemporaryDir>(PrivateBus::socketDirTemplate());
    QVERIFY(m_busDir->isValid());
    QVERIFY(QFile::setPermissions(m_busDir->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                          | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                          | QFileDevice::ExeOther));
    const QString socket = m_busDir->filePath(QStringLiteral("system_bus_socket"));
    QFile config(m_busDir->filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QString::fromLatin1(BUS_CONFIG)
                         .arg(socket.toHtmlEscaped(), policy.toHtmlEscaped(),
                              QLatin1String(GRANTED_GROUP))
                         .toUtf8());
    config.close();

    m_busProcess = std::make_unique<QProcess>();
    m_busProcess->start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--config-file=") + config.fileName(),
                         QStringLiteral("--print-address=1"), QStringLiteral("--nofork")});
    QVERIFY(m_busProcess->waitForStarted(START_TIMEOUT_MS));
    KIRTA_WAIT_VERIFY(m_busProcess->canReadLine() || m_busProcess->state() != QProcess::Running,
                      START_TIMEOUT_MS);
    QVERIFY2(m_busProcess->state() == QProcess::Running,
             m_busProcess->readAllStandardError().constData());
    m_address = QString::fromLocal8Bit(m_busProcess->readLine()).trimmed();
    QVERIFY(m_address.startsWith(QLatin1String("unix:")));
    QVERIFY(QDBusConnection::connectToBus(m_address, QLatin1String(ROOT_CONNECTION)).isConnected());

    // The daemon runs as root and takes its name.
    QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
    QVERIFY(m_tree.installDaemonStandIns());
    QVERIFY(m_tree.writeFile(CONFIG_PATH, CONFIG));
    m_daemon = std::make_unique<DaemonProcess>();
    m_daemon->setEnvironmentValue(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    QVERIFY(m_daemon->start());
    QDBusConnectionInterface *bus = QDBusConnection(QLatin1String(ROOT_CONNECTION)).interface();
    KIRTA_WAIT_VERIFY(
            !m_daemon->isRunning()
                    || (bus->isServiceRegistered(SERVICE)
                        && DaemonProcess::logText().contains(QLatin1String("NO PACKAGES"))),
            START_TIMEOUT_MS);
    QVERIFY2(m_daemon->isRunning(), qPrintable(m_daemon->diagnostics()));
    QCOMPARE(bus->servicePid(SERVICE).value(), uint(m_daemon->pid()));
    // That line comes just before the move out of "unknown", which the bus
    // thread publishes a moment later; the rows read the state it left.
    KIRTA_WAIT_LEFT_UNKNOWN(QDBusConnection(QLatin1String(ROOT_CONNECTION)), START_TIMEOUT_MS);
}

void TestBusPolicy::cleanupTestCase()
{
    setPolkit(NO_POLKIT);
    if (m_daemon)
        m_daemon->terminate();
    m_daemon.reset();
    QDBusConnection::disconnectFromBus(QLatin1String(ROOT_CONNECTION));
    if (m_busProcess) {
        m_busProcess->terminate();
        if (!m_busProcess->waitForFinished(START_TIMEOUT_MS))
            m_busProcess->kill();
        m_busProcess->waitForFinished(START_TIMEOUT_MS);
    }
}

GdbusResult TestBusPolicy::gdbus(const QString &caller, const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (caller != ROOT) {
        const QString groups = caller == GRANTED ? QStringLiteral("--groups=%1").arg(m_grantedGid)
                                                 : QStringLiteral("--clear-groups");
        process.start(QStringLiteral("setpriv"),
                      QStringList {QStringLiteral("--reuid=%1").arg(m_nobodyUid),
                                   QStringLiteral("--regid=%1").arg(m_nobodyGid), groups,
                                   QStringLiteral("--"), QStringLiteral("gdbus")}
                              + arguments);
    } else {
        process.start(QStringLiteral("gdbus"), arguments);
    }
    GdbusResult result;
    if (!process.waitForFinished(CALL_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("gdbus did not finish");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll()).trimmed();
    return result;
}

bool TestBusPolicy::setPolkit(const QString &allowed)
{
    QDBusConnection root {QLatin1String(ROOT_CONNECTION)};
    if (allowed == NO_POLKIT) {
        if (m_polkit) {
            m_polkit->terminate();
            m_polkit->waitForFinished(START_TIMEOUT_MS);
            m_polkit.reset();
        }
        return waitUntil([&] { return !root.interface()->isServiceRegistered(POLKIT_SERVICE); },
                         START_TIMEOUT_MS);
    }
    if (!m_polkit) {
        m_polkitLog = m_busDir->filePath(QStringLiteral("polkit.log"));
        m_polkit = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        m_polkit->setProcessEnvironment(environment);
        // Debian's module belongs to the system's interpreter.
        m_polkit->start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                         QStringLiteral("--system"), QStringLiteral("--template"),
                         QStringLiteral("polkitd"), QStringLiteral("-l"), m_polkitLog});
        if (!m_polkit->waitForStarted(START_TIMEOUT_MS)
            || !waitUntil(
                    [&] {
                        return m_polkit->state() != QProcess::Running
                               || root.interface()->isServiceRegistered(POLKIT_SERVICE);
                    },
                    START_TIMEOUT_MS)
            || m_polkit->state() != QProcess::Running) {
            qWarning("mock polkit: %s", m_polkit->readAllStandardError().constData());
            return false;
        }
    }
    QStringList actions;
    for (const QString &action : allowed.split(QLatin1Char(','), Qt::SkipEmptyParts))
        actions << ACTION + action;
    QDBusMessage set = QDBusMessage::createMethodCall(
            POLKIT_SERVICE, QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("SetAllowed"));
    set << actions;
    return root.call(set, QDBus::Block, CALL_TIMEOUT_MS).type() == QDBusMessage::ReplyMessage;
}

int TestBusPolicy::polkitChecks() const
{
    QFile log(m_polkitLog);
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return log.readAll().count("CheckAuthorization");
}

void TestBusPolicy::calls_data()
{
    QTest::addColumn<QString>("caller");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QStringList>("arguments");
    // The answer gdbus prints, or the error name when the bus refuses.
    QTest::addColumn<QString>("expected");
    // NO_POLKIT, or the actions the mock polkit allows ("" none).
    QTest::addColumn<QString>("polkit");
    // Whether the daemon asked polkit.
    QTest::addColumn<bool>("asked");

    const QString own = SERVICE + QLatin1Char('.');
    const QStringList none;
    QTest::newRow("nobody reads the state number")
            << NOBODY << own + "getCurrentStateAsInt" << none << "(1,)" << NO_POLKIT << false;
    QTest::newRow("nobody reads the state word") << NOBODY << own + "getCurrentStateAsString"
                                                 << none << "('no-updates',)" << NO_POLKIT << false;
    QTest::newRow("nobody reads the error")
            << NOBODY << own + "getCurrentErrorAsInt" << none << "(-1,)" << NO_POLKIT << false;
    QTest::newRow("nobody reads the date")
            << NOBODY << own + "getUpdateDateAsString" << none
            << "('Upgrade date not set or not valid',)" << NO_POLKIT << false;
    QTest::newRow("nobody reads the version") << NOBODY << own + "getMinorUpdateVersion" << none
                                              << "('Version unknown',)" << NO_POLKIT << false;
    QTest::newRow("nobody asks whether armed") << NOBODY << own + "isUpgradeOnRebootEnabled" << none
                                               << "(false,)" << NO_POLKIT << false;
    QTest::newRow("nobody pings") << NOBODY << QStringLiteral("org.freedesktop.DBus.Peer.Ping")
                                  << none << "()" << NO_POLKIT << false;
    QTest::newRow("nobody may not arm") << NOBODY << own + "enableUpgradeOnReboot" << none
                                        << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("nobody may not disarm") << NOBODY << own + "disableUpgradeOnReboot" << none
                                           << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("nobody may not set the state")
            << NOBODY << own + "setStateFromOutside" << QStringList {QStringLiteral("2")}
            << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("nobody may not remove stamps")
            << NOBODY << own + "removeUpgradeResultStamp" << QStringList {QStringLiteral("7")}
            << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("nobody may not start the activation")
            << NOBODY << own + "enableAndStartActivatingService" << none << ACCESS_DENIED
            << NO_POLKIT << false;
    QTest::newRow("granted group sets the state")
            << GRANTED << own + "setStateFromOutside" << QStringList {QStringLiteral("6")}
            << "(-1,)" << NO_POLKIT << false;
    // Arming, disarming and clearing are polkit's to decide, whatever the
    // bus policy grants.
    QTest::newRow("granted group may not disarm without polkit")
            << GRANTED << own + "disableUpgradeOnReboot" << none << ACCESS_DENIED << NO_POLKIT
            << false;
    QTest::newRow("polkit refuses nobody arming")
            << NOBODY << own + "enableUpgradeOnReboot" << none << ACCESS_DENIED << "disarm" << true;
    QTest::newRow("polkit lets nobody arm")
            << NOBODY << own + "enableUpgradeOnReboot" << none << "(-10,)"
            << "arm" << true;
    QTest::newRow("polkit lets nobody disarm")
            << NOBODY << own + "disableUpgradeOnReboot" << none << "(11,)"
            << "disarm" << true;
    QTest::newRow("polkit lets nobody clear the result")
            << NOBODY << own + "removeUpgradeResultStamp" << QStringList {QStringLiteral("1")}
            << "(1,)"
            << "clear-result" << true;
    QTest::newRow("polkit's consent to arm does not set the state")
            << NOBODY << own + "setStateFromOutside" << QStringList {QStringLiteral("2")}
            << ACCESS_DENIED << "arm,disarm,clear-result" << false;
    QTest::newRow("root arms without polkit's consent")
            << ROOT << own + "enableUpgradeOnReboot" << none << "(-10,)"
            << "" << false;
    QTest::newRow("root arms") << ROOT << own + "enableUpgradeOnReboot" << none << "(-10,)"
                               << NO_POLKIT << false;
    QTest::newRow("root disarms") << ROOT << own + "disableUpgradeOnReboot" << none << "(11,)"
                                  << NO_POLKIT << false;
    QTest::newRow("root sets the state")
            << ROOT << own + "setStateFromOutside" << QStringList {QStringLiteral("6")} << "(-1,)"
            << NO_POLKIT << false;
    // The automatic restart (none planned here: answer 1). Postponing is
    // polkit's to decide; cancelling is root's alone, whatever the bus
    // policy grants.
    QTest::newRow("nobody may not postpone the restart without polkit")
            << NOBODY << own + "postponeRestart" << none << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("polkit refuses nobody postponing")
            << NOBODY << own + "postponeRestart" << none << ACCESS_DENIED << "arm" << true;
    QTest::newRow("polkit lets nobody postpone the restart")
            << NOBODY << own + "postponeRestart" << none << "(1,)"
            << "postpone-restart" << true;
    QTest::newRow("nobody may not cancel the restart")
            << NOBODY << own + "cancelRestart" << none << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("granted group may not cancel the restart")
            << GRANTED << own + "cancelRestart" << none << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("root postpones without polkit")
            << ROOT << own + "postponeRestart" << none << "(1,)" << NO_POLKIT << false;
    QTest::newRow("root cancels the restart")
            << ROOT << own + "cancelRestart" << none << "(1,)" << NO_POLKIT << false;
    // Giving the fleet lock's slot back is root's alone too (none held: 1).
    QTest::newRow("nobody may not release the reboot lock")
            << NOBODY << own + "releaseRebootLock" << none << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("granted group may not release the reboot lock")
            << GRANTED << own + "releaseRebootLock" << none << ACCESS_DENIED << NO_POLKIT << false;
    QTest::newRow("root releases the reboot lock")
            << ROOT << own + "releaseRebootLock" << none << "(1,)" << NO_POLKIT << false;
}

void TestBusPolicy::calls()
{
    QFETCH(QString, caller);
    QFETCH(QString, method);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QFETCH(QString, polkit);
    QFETCH(bool, asked);
    QVERIFY(setPolkit(polkit));
    const int checks = polkitChecks();

    const int logSize = DaemonProcess::logText().size();
    const GdbusResult result = gdbus(
            caller, QStringList {QStringLiteral("call"), QStringLiteral("--system"),
                                 QStringLiteral("--dest"), SERVICE, QStringLiteral("--object-path"),
                                 OBJECT_PATH, QStringLiteral("--method"), method}
                            + arguments);

    const bool refused = expected == ACCESS_DENIED;
    if (refused) {
        QVERIFY2(result.exitCode != 0 && result.output.contains(ACCESS_DENIED),
                 qPrintable(result.output));
        // The call never reached the daemon.
        const QString name = method.section(QLatin1Char('.'), -1);
        QVERIFY(!DaemonProcess::logText().mid(logSize).contains(name));
    } else {
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        QCOMPARE(result.output, expected);
    }
    QCOMPARE(polkitChecks() > checks, asked);
    QVERIFY(m_daemon->isRunning());
}

void TestBusPolicy::owningTheName_data()
{
    QTest::addColumn<QString>("caller");
    QTest::addColumn<QString>("expected");

    // Root passes the policy and is told the name exists (3): the daemon
    // has it.
    QTest::newRow("root") << ROOT << "(uint32 3,)";
    QTest::newRow("nobody") << NOBODY << ACCESS_DENIED;
}

void TestBusPolicy::owningTheName()
{
    QFETCH(QString, caller);
    QFETCH(QString, expected);

    // Flags 4: do not queue.
    const GdbusResult result = gdbus(
            caller,
            {QStringLiteral("call"), QStringLiteral("--system"), QStringLiteral("--dest"),
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
             QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
             QStringLiteral("org.freedesktop.DBus.RequestName"), SERVICE, QStringLiteral("4")});
    if (expected == ACCESS_DENIED)
        QVERIFY2(result.exitCode != 0 && result.output.contains(expected),
                 qPrintable(result.output));
    else
        QCOMPARE(result.output, expected);

    QDBusConnectionInterface *bus = QDBusConnection(QLatin1String(ROOT_CONNECTION)).interface();
    QCOMPARE(bus->servicePid(SERVICE).value(), uint(m_daemon->pid()));
}

QTEST_GUILESS_MAIN(TestBusPolicy)
#include "tst_buspolicy.moc"
