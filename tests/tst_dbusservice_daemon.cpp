// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The daemon's program on a private system bus: the interface it exports,
// what each method answers after the first check, calls with the wrong
// argument types, the end of the program when it cannot register, and the
// order and fate of changes that callers send.

#include "codes.h"
#include "daemonprocess.h"
#include "processtestbed.h"
#include "statewait.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

namespace {
const QString SERVICE = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice");
const QString OBJECT_PATH = QStringLiteral("/os/kirtalinux/zun/kirtaupdateservice");
const QString INTERFACE = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice");
const QString CONFIG_PATH = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString START_LINE = QStringLiteral("void Daemon::start()");
const QString LOAD_LINE = QStringLiteral("Loading settings, reload = 0");
const QString CHECK_LINE = QStringLiteral("void Daemon::checkUpdates()");
const QString FIRST_CHECK_DONE = QStringLiteral("NO PACKAGES");
const int START_TIMEOUT_MS = 15000;
const int CALL_TIMEOUT_MS = 10000;
const QString SUCCESS_STAMP = QStringLiteral("/var/cache/kirta-update-service/successful");
// The bus thread's line for each change it hands on or refuses.
const QString BUS_DECISION_LINE
        = QStringLiteral("void UpdateDBusHandler::runDecided(const QString&): ");

QDBusMessage changeCall(const QString &method, int argument)
{
    return QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, INTERFACE, method) << argument;
}

QDBusMessage callDaemon(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, INTERFACE, method);
    call.setArguments(arguments);
    return QDBusConnection::systemBus().call(call, QDBus::Block, CALL_TIMEOUT_MS);
}

QString describe(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    QStringList parts;
    for (const QVariant &value : reply.arguments())
        parts << value.toString();
    return reply.signature() + QStringLiteral(" ") + parts.join(QLatin1Char(','));
}

// "name(in i, out i)" per method of `interfaceName` in the output of
// "gdbus introspect" (argument names left out), and one more line when
// the interface has signals or properties.
QStringList methodsFromGdbus(const QString &output, const QString &interfaceName)
{
    const int start = output.indexOf(QStringLiteral("interface %1 {").arg(interfaceName));
    if (start < 0)
        return {QStringLiteral("interface missing")};
    const int end = output.indexOf(QRegularExpression(QStringLiteral("\\n  };")), start);
    QString block = output.mid(start, end - start);
    block.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));

    QStringList members;
    // gdbus prints the headings even when a section is empty.
    const int signalsAt = block.indexOf(QLatin1String("signals:"));
    if (signalsAt >= 0) {
        QString rest = block.mid(signalsAt);
        rest.remove(QLatin1String("signals:")).remove(QLatin1String("properties:"));
        if (!rest.trimmed().isEmpty())
            members << QStringLiteral("signals or properties: ") + rest.trimmed();
        block.truncate(signalsAt);
    }
    const QRegularExpression method(QStringLiteral("(\\w+)\\(([^)]*)\\);"));
    auto it = method.globalMatch(block);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        QStringList arguments;
        for (const QString &argument : match.captured(2).split(QLatin1Char(','))) {
            const QStringList words = argument.simplified().split(QLatin1Char(' '));
            if (words.size() >= 2)
                arguments << words.at(0) + QLatin1Char(' ') + words.at(1);
        }
        members << QStringLiteral("%1(%2)").arg(match.captured(1),
                                                arguments.join(QLatin1String(", ")));
    }
    return members;
}
} // namespace

// Keeps every PropertiesChanged of the daemon's object.
class ChangeRecorder : public QObject
{
    Q_OBJECT

public:
    QStringList interfaces;
    QList<QVariantMap> changes;

public Q_SLOTS:
    void record(const QString &interfaceName, const QVariantMap &changed, const QStringList &)
    {
        interfaces << interfaceName;
        changes << changed;
    }
};

class TestDbusServiceDaemon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void introspectionShowsTheMethods();
    void methodsAnswerOnFreshDaemon_data();
    void methodsAnswerOnFreshDaemon();
    void otherArgumentTypesAreUnknown_data();
    void otherArgumentTypesAreUnknown();
    void registrationFailureEndsWithOne_data();
    void registrationFailureEndsWithOne();
    void busAnswersWhileTheDaemonWorks();
    void metricsFileFollowsTheConfiguration();
    void changesOfOneSenderRunInOrder_data();
    void changesOfOneSenderRunInOrder();
    void changesWaitForTheStartUpRollback();

private:
    // The stage program as a script that notes the begin and end of each
    // run in /runs: a rollback takes 5 s, a clean notes whether the result
    // stamp "successful" is still there; everything answers 0.
    bool installNotingStageProgram();
    // Starts the daemon and waits until it owns the name and has published
    // the end of its first update check, so the state it renders stays put.
    // Empty when it has; otherwise what went wrong.
    QString startFreshDaemon(DaemonProcess &daemon);

    ProcessTestBed m_bed;
    SandboxTree &m_tree = m_bed.tree();
};

void TestDbusServiceDaemon::initTestCase()
{
    QVERIFY2(m_bed.start(), qPrintable(m_bed.errorString()));
}

void TestDbusServiceDaemon::init()
{
    QVERIFY2(m_bed.resetTree(SandboxTree::sampleConfiguration()), qPrintable(m_bed.errorString()));
}

QString TestDbusServiceDaemon::startFreshDaemon(DaemonProcess &daemon)
{
    if (!daemon.start())
        return QStringLiteral("the daemon did not start");
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    const bool ready = waitUntil(
            [&] {
                return !daemon.isRunning()
                       || (bus->isServiceRegistered(SERVICE)
                           && DaemonProcess::logText().contains(FIRST_CHECK_DONE));
            },
            START_TIMEOUT_MS);
    if (!ready || !daemon.isRunning())
        return QStringLiteral("no name and \"%1\" from a running daemon").arg(FIRST_CHECK_DONE);
    if (bus->servicePid(SERVICE).value() != uint(daemon.pid()))
        return QStringLiteral("the name is another process's");
    // The log line comes just before the move out of "unknown", which the
    // bus thread publishes a moment later: a fresh daemon is one whose bus
    // answers say so.
    StateWait published(QDBusConnection::systemBus());
    if (!published.leftUnknown(START_TIMEOUT_MS))
        return published.failure();
    return QString();
}

void TestDbusServiceDaemon::introspectionShowsTheMethods()
{
    DaemonProcess daemon;
    const QString notFresh = startFreshDaemon(daemon);
    QVERIFY2(notFresh.isEmpty(), qPrintable(notFresh));

    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"),
                {QStringLiteral("introspect"), QStringLiteral("--system"), QStringLiteral("--dest"),
                 SERVICE, QStringLiteral("--object-path"), OBJECT_PATH});
    QVERIFY(gdbus.waitForFinished(CALL_TIMEOUT_MS));
    const QString output = QString::fromUtf8(gdbus.readAllStandardOutput());
    QVERIFY2(gdbus.exitCode() == 0, qPrintable(gdbus.readAllStandardError()));

    QStringList methods = methodsFromGdbus(output, INTERFACE);
    methods.sort();
    QStringList expected {QStringLiteral("getUpdateDateAsString(out s)"),
                          QStringLiteral("getCurrentStateAsString(out s)"),
                          QStringLiteral("getCurrentStateAsInt(out i)"),
                          QStringLiteral("getCurrentErrorAsInt(out i)"),
                          QStringLiteral("enableUpgradeOnReboot(out i)"),
                          QStringLiteral("disableUpgradeOnReboot(out i)"),
                          QStringLiteral("setStateFromOutside(in i, out i)"),
                          QStringLiteral("isUpgradeOnRebootEnabled(out b)"),
                          QStringLiteral("removeUpgradeResultStamp(in i, out i)"),
                          QStringLiteral("getMinorUpdateVersion(out s)"),
                          QStringLiteral("enableAndStartActivatingService(out i)"),
                          QStringLiteral("postponeRestart(out i)"),
                          QStringLiteral("cancelRestart(out i)"),
                          QStringLiteral("releaseRebootLock(out i)")};
    expected.sort();
    QVERIFY2(methods == expected, qPrintable(output));
    QVERIFY(daemon.isRunning());
}

void TestDbusServiceDaemon::methodsAnswerOnFreshDaemon_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QVariant>("answer");
    // A file laid down before the start that the call must remove.
    QTest::addColumn<QString>("removedFile");

    const QVariantList none;
    QTest::newRow("getUpdateDateAsString")
            << "getUpdateDateAsString" << none << "s"
            << QVariant(QStringLiteral("Upgrade date not set or not valid")) << QString();
    QTest::newRow("getCurrentStateAsString") << "getCurrentStateAsString" << none << "s"
                                             << QVariant(QStringLiteral("no-updates")) << QString();
    QTest::newRow("getCurrentStateAsInt") << "getCurrentStateAsInt" << none << "i"
                                          << QVariant(toInt(StateNumber::NoUpdates)) << QString();
    QTest::newRow("getCurrentErrorAsInt") << "getCurrentErrorAsInt" << none << "i"
                                          << QVariant(toInt(ErrorNumber::None)) << QString();
    // Nothing is downloaded: arming is only noted as owed.
    QTest::newRow("enableUpgradeOnReboot")
            << "enableUpgradeOnReboot" << none << "i"
            << QVariant(toInt(ArmDeferred::UntilDownloaded)) << QString();
    // Neither link nor stamp there.
    QTest::newRow("disableUpgradeOnReboot")
            << "disableUpgradeOnReboot" << none << "i"
            << QVariant(toInt(DisarmLink::Absent) + toInt(StampPart::AlreadySo)) << QString();
    QTest::newRow("setStateFromOutside(2) before download")
            << "setStateFromOutside" << QVariantList {toInt(OutsideState::Arm)} << "i"
            << QVariant(toInt(ArmDeferred::UntilDownloaded)) << QString();
    QTest::newRow("setStateFromOutside(6)")
            << "setStateFromOutside" << QVariantList {6} << "i"
            << QVariant(toInt(OutsideAnswer::UnknownState)) << QString();
    QTest::newRow("isUpgradeOnRebootEnabled")
            << "isUpgradeOnRebootEnabled" << none << "b" << QVariant(false) << QString();
    QTest::newRow("removeUpgradeResultStamp(7)")
            << "removeUpgradeResultStamp" << QVariantList {7} << "i"
            << QVariant(toInt(StampRemoval::Absent)) << QString();
    QTest::newRow("removeUpgradeResultStamp(2) present")
            << "removeUpgradeResultStamp" << QVariantList {toInt(ResultStamp::MajorAborted)} << "i"
            << QVariant(toInt(StampRemoval::Removed))
            << QStringLiteral("/var/cache/kirta-upgrade/upgrade_aborted");
    QTest::newRow("getMinorUpdateVersion")
            << "getMinorUpdateVersion" << none << "s" << QVariant(QStringLiteral("Version unknown"))
            << QString();
    QTest::newRow("enableAndStartActivatingService")
            << "enableAndStartActivatingService" << none << "i" << QVariant(0) << QString();
}

void TestDbusServiceDaemon::methodsAnswerOnFreshDaemon()
{
    QFETCH(QString, method);
    QFETCH(QVariantList, arguments);
    QFETCH(QString, signature);
    QFETCH(QVariant, answer);
    QFETCH(QString, removedFile);
    if (!removedFile.isEmpty())
        QVERIFY(m_tree.writeFile(removedFile, QByteArray()));

    DaemonProcess daemon;
    const QString notFresh = startFreshDaemon(daemon);
    QVERIFY2(notFresh.isEmpty(), qPrintable(notFresh));
    const QDBusMessage reply = callDaemon(method, arguments);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(describe(reply)));
    QCOMPARE(reply.signature(), signature);
    QCOMPARE(reply.arguments().size(), 1);
    QCOMPARE(reply.arguments().at(0), answer);
    if (!removedFile.isEmpty())
        QVERIFY(!m_tree.exists(removedFile));
    QVERIFY(daemon.isRunning());
}

void TestDbusServiceDaemon::otherArgumentTypesAreUnknown_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("arguments");

    QTest::newRow("getter with an int") << "isUpgradeOnRebootEnabled" << QVariantList {1};
    QTest::newRow("int method with a string")
            << "setStateFromOutside" << QVariantList {QStringLiteral("2")};
    QTest::newRow("int method with an unsigned")
            << "setStateFromOutside" << QVariantList {QVariant::fromValue(2u)};
    QTest::newRow("int method without argument") << "setStateFromOutside" << QVariantList();
    QTest::newRow("int method with a boolean") << "removeUpgradeResultStamp" << QVariantList {true};
    // Clients cannot pass suppressForce.
    QTest::newRow("disable with a boolean") << "disableUpgradeOnReboot" << QVariantList {true};
    QTest::newRow("name in other case") << "getcurrentstateasint" << QVariantList();
}

void TestDbusServiceDaemon::otherArgumentTypesAreUnknown()
{
    QFETCH(QString, method);
    QFETCH(QVariantList, arguments);

    DaemonProcess daemon;
    const QString notFresh = startFreshDaemon(daemon);
    QVERIFY2(notFresh.isEmpty(), qPrintable(notFresh));
    const int logSize = DaemonProcess::logText().size();
    const QDBusMessage reply = callDaemon(method, arguments);
    QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));

    // Nothing reached the daemon, and it answers on.
    const QDBusMessage state = callDaemon(QStringLiteral("getCurrentStateAsInt"));
    QVERIFY2(state.type() == QDBusMessage::ReplyMessage, qPrintable(describe(state)));
    QCOMPARE(state.arguments(), QVariantList {1});
    const QString logAfter = DaemonProcess::logText().mid(logSize);
    QVERIFY2(!logAfter.contains(QLatin1String("Daemon::setStateFromOutside"))
                     && !logAfter.contains(QLatin1String("Daemon::disableUpgradeOnReboot"))
                     && !logAfter.contains(QLatin1String("Daemon::removeUpgradeResultStamp"))
                     && !logAfter.contains(QLatin1String("m_isUpgradeEnabled = ")),
             qPrintable(logAfter));
    QVERIFY(daemon.isRunning());
}

void TestDbusServiceDaemon::registrationFailureEndsWithOne_data()
{
    QTest::addColumn<bool>("nameTaken");

    QTest::newRow("name owned by another process") << true;
    QTest::newRow("no system bus") << false;
}

void TestDbusServiceDaemon::registrationFailureEndsWithOne()
{
    QFETCH(bool, nameTaken);
    QDBusConnection bus = QDBusConnection::systemBus();
    DaemonProcess daemon;
    if (nameTaken) {
        QVERIFY(bus.registerService(SERVICE));
    } else {
        daemon.setEnvironmentValue(
                QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                QStringLiteral("unix:path=%1").arg(m_tree.path(QStringLiteral("/no-bus-here"))));
    }

    QVERIFY(daemon.start());
    const int status = daemon.waitForExit(START_TIMEOUT_MS);
    const QString owner = bus.interface()->serviceOwner(SERVICE).value();
    if (nameTaken)
        QVERIFY(bus.unregisterService(SERVICE));

    QCOMPARE(status, 1);
    // The start-up sequence ran in full; the event loop never did.
    const QString log = QString::fromLocal8Bit(daemon.standardError()) + DaemonProcess::logText();
    QVERIFY2(log.contains(START_LINE), qPrintable(log));
    QVERIFY2(log.contains(LOAD_LINE), qPrintable(log));
    QVERIFY2(!log.contains(CHECK_LINE), qPrintable(log));
    // Nothing is printed about the failure.
    QVERIFY2(!daemon.standardError().contains("registered")
                     && !daemon.standardError().contains("not connected"),
             daemon.standardError().constData());
    QCOMPARE(owner, nameTaken ? bus.baseService() : QString());
}

// Naming a metrics file, or another one, in the running daemon's
// configuration writes the state there at once, not only at the state's
// next change.
void TestDbusServiceDaemon::metricsFileFollowsTheConfiguration()
{
    const QString first = QStringLiteral("/var/lib/node-exporter/first.prom");
    const QString second = QStringLiteral("/var/lib/node-exporter/second.prom");
    const QString stateLine = QStringLiteral("kirta_update_state{state=\"no-updates\"} 1");
    QVERIFY(m_tree.writeFile(CONFIG_PATH, SandboxTree::sampleConfiguration()));
    DaemonProcess daemon;
    const QString notFresh = startFreshDaemon(daemon);
    QVERIFY2(notFresh.isEmpty(), qPrintable(notFresh));
    KIRTA_WAIT_VERIFY(callDaemon(QStringLiteral("getCurrentStateAsInt")).arguments()
                              == QVariantList {1},
                      CALL_TIMEOUT_MS);
    QVERIFY(!m_tree.exists(first));

    for (const QString &path : {first, second}) {
        QVERIFY(m_tree.writeFile(CONFIG_PATH,
                                 SandboxTree::sampleConfiguration()
                                         + QStringLiteral("Metrics_file=%1\n").arg(path)));
        KIRTA_WAIT_VERIFY(m_tree.readFile(path).contains(stateLine), CALL_TIMEOUT_MS);
    }
    QCOMPARE(callDaemon(QStringLiteral("getCurrentStateAsInt")).arguments(), QVariantList {1});
}

// Reads are answered while a stage run holds the daemon's thread, a change
// is announced once, and read calls leave no trace in the log.
void TestDbusServiceDaemon::busAnswersWhileTheDaemonWorks()
{
    const QString status = INTERFACE + QStringLiteral(".Status");
    const QString metrics = QStringLiteral("/var/lib/node-exporter/kirta.prom");
    QVERIFY(m_tree.writeFile(CONFIG_PATH,
                             SandboxTree::sampleConfiguration()
                                     + QStringLiteral("Metrics_file=%1\n").arg(metrics)));
    // The collector's directory exists; the daemon replaces the file.
    QVERIFY(m_tree.writeFile(metrics, QByteArray()));
    QVERIFY(m_tree.writeFile(
            QStringLiteral("/etc/os-release"),
            QByteArray("PRETTY_NAME=\"Kirta \\\"12\\\" (test)\"\nVERSION_ID=\"12\"\n")));
    QDBusConnection bus = QDBusConnection::systemBus();
    ChangeRecorder recorder;
    QVERIFY(bus.connect(SERVICE, OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), &recorder,
                        SLOT(record(QString, QVariantMap, QStringList))));
    DaemonProcess daemon;
    const QString notFresh = startFreshDaemon(daemon);
    QVERIFY2(notFresh.isEmpty(), qPrintable(notFresh));
    // The first check is announced a moment after its log line; only what
    // comes after it counts here.
    KIRTA_WAIT_VERIFY(!recorder.changes.isEmpty()
                              && recorder.changes.last().value(QStringLiteral("State")) == 1,
                      CALL_TIMEOUT_MS);
    recorder.interfaces.clear();
    recorder.changes.clear();
    // The stop cleans the cache first; that run now takes 5 s.
    QVERIFY(m_tree.writeFile(QStringLiteral("/standin/kirta-update-service.clean.delay"),
                             QByteArray("5")));
    QDBusMessage stop = QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, INTERFACE,
                                                       QStringLiteral("setStateFromOutside"));
    stop << 3;
    const QDBusPendingCall change = bus.asyncCall(stop, CALL_TIMEOUT_MS);
    KIRTA_WAIT_VERIFY(m_tree.readFile(QStringLiteral("/standin/kirta-update-service.calls"))
                              .contains(QLatin1String("clean")),
                      CALL_TIMEOUT_MS);
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer took;
        took.start();
        const QDBusMessage reply = callDaemon(QStringLiteral("getCurrentStateAsInt"));
        QCOMPARE(reply.arguments(), QVariantList {1});
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    }
    QVERIFY2(!change.isFinished(), "the stage run ended before the reads did");

    KIRTA_WAIT_VERIFY(change.isFinished(), CALL_TIMEOUT_MS);
    QCOMPARE(change.reply().arguments(), QVariantList {0});
    // What the change did is there for the next read.
    QCOMPARE(callDaemon(QStringLiteral("getCurrentStateAsInt")).arguments(), QVariantList {-3});
    const QDBusMessage all = bus.call(
            QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH,
                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("GetAll"))
            << status);
    QCOMPARE(all.type(), QDBusMessage::ReplyMessage);
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    QCOMPARE(properties.value(QStringLiteral("State")), QVariant(-3));
    QCOMPARE(properties.value(QStringLiteral("StateName")),
             QVariant(QStringLiteral("stopped-for-major")));
    QCOMPARE(properties.value(QStringLiteral("Armed")), QVariant(false));
    QCOMPARE(properties.value(QStringLiteral("Deadline")), QVariant(qlonglong(0)));
    QCOMPARE(properties.value(QStringLiteral("Packages")), QVariant(QStringList()));
    QVERIFY(properties.value(QStringLiteral("LastCheck")).toLongLong() > 0);
    QCOMPARE(properties.value(QStringLiteral("LastResult")), QVariant(QStringLiteral("none")));
    // The metrics file followed.
    const QString prom = m_tree.readFile(metrics);
    QVERIFY2(prom.contains(QLatin1String("\nkirta_update_state{state=\"stopped-for-major\"} -3\n")),
             qPrintable(prom));
    QVERIFY(prom.contains(QLatin1String("\nkirta_update_last_result{result=\"none\"} 1\n")));
    // The default policy plans no restart.
    QCOMPARE(properties.value(QStringLiteral("RestartPlanned")), QVariant(qlonglong(0)));
    QCOMPARE(properties.value(QStringLiteral("RestartBlocker")), QVariant(QString()));
    QVERIFY(prom.contains(
            QLatin1String("\nkirta_update_restart_planned_seconds{blocked_by=\"none\"} 0\n")));
    QVERIFY(prom.contains(QLatin1String("\nkirta_update_last_check_seconds ")
                          + properties.value(QStringLiteral("LastCheck")).toString() + '\n'));
    // No fleet lock configured: no slot, and nothing said about one.
    QCOMPARE(properties.value(QStringLiteral("RebootLockHeld")), QVariant(false));
    QCOMPARE(properties.value(QStringLiteral("RebootLockText")), QVariant(QString()));
    QVERIFY(prom.contains(QLatin1String("\nkirta_update_reboot_lock_held 0\n")));
    QVERIFY(prom.contains(
            QLatin1String("\n# TYPE kirta_update_reboot_lock_answers_total counter\n"
                          "kirta_update_reboot_lock_answers_total{answer=\"granted\"} "
                          "0\n")));
    // The quotes inside the release's name are escaped for the label.
    QVERIFY2(prom.contains(QLatin1String("\nkirta_update_os_info{version_id=\"12\",pretty_name="
                                         "\"Kirta \\\"12\\\" (test)\"} 1\n")),
             qPrintable(prom));
    const QRegularExpression started(QStringLiteral("\nkirta_update_start_time_seconds (\\d+)\n"));
    const qint64 startTime = started.match(prom).captured(1).toLongLong();
    QVERIFY(qAbs(QDateTime::currentSecsSinceEpoch() - startTime) < 600);

    // Many reads, then a change that alters nothing: its answer comes after
    // whatever the daemon announced before it.
    const int linesBefore = DaemonProcess::logText().count(QLatin1Char('\n'));
    for (int i = 0; i < 300; ++i)
        callDaemon(i % 2 ? QStringLiteral("getCurrentStateAsString")
                         : QStringLiteral("isUpgradeOnRebootEnabled"));
    const int grown = DaemonProcess::logText().count(QLatin1Char('\n')) - linesBefore;
    QCOMPARE(callDaemon(QStringLiteral("removeUpgradeResultStamp"), {7}).arguments(),
             QVariantList {1});
    QCoreApplication::processEvents();
    QCOMPARE(recorder.interfaces, QStringList {status});
    QCOMPARE(recorder.changes.value(0),
             QVariantMap({{QStringLiteral("State"), -3},
                          {QStringLiteral("StateName"), QStringLiteral("stopped-for-major")}}));
    QVERIFY2(grown < 10, qPrintable(QStringLiteral("%1 log lines for 300 reads").arg(grown)));
    QVERIFY(daemon.isRunning());
}

bool TestDbusServiceDaemon::installNotingStageProgram()
{
    const QString program = QStringLiteral("/usr/sbin/kirta-update-service");
    return m_tree.writeFile(program, QStringLiteral("#!/bin/sh\n"
                                                    "runs=\"$KIRTA_SYSROOT/runs\"\n"
                                                    "echo \"begin $1\" >>\"$runs\"\n"
                                                    "case \"$1\" in\n"
                                                    "rollback) sleep 5 ;;\n"
                                                    "clean) [ ! -e \"$KIRTA_SYSROOT%1\" ] || "
                                                    "echo 'stamp there' >>\"$runs\" ;;\n"
                                                    "esac\n"
                                                    "echo \"end $1\" >>\"$runs\"\n"
                                                    "exit 0\n")
                                             .arg(SUCCESS_STAMP))
           && QFile::setPermissions(m_tree.path(program),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestDbusServiceDaemon::changesOfOneSenderRunInOrder_data()
{
    QTest::addColumn<QString>("logLevel");
    QTest::addColumn<bool>("busLineWritten");
    QTest::newRow("Log_level=debug") << "debug" << true;
    QTest::newRow("Log_level=info") << "info" << false;
}

// Root's changes need no polkit, but the daemon learns that a caller is root
// only from the bus: a change that waits for that answer is still carried
// out before the sender's next change, and a change whose sender left
// without waiting for the answer is still carried out.
void TestDbusServiceDaemon::changesOfOneSenderRunInOrder()
{
    QFETCH(QString, logLevel);
    QFETCH(bool, busLineWritten);
    QString configuration = SandboxTree::sampleConfiguration();
    configuration.replace(QStringLiteral("Log_level=debug"),
                          QStringLiteral("Log_level=") + logLevel);
    QVERIFY(m_tree.writeFile(CONFIG_PATH, configuration));
    QVERIFY(installNotingStageProgram());
    DaemonProcess daemon;
    QVERIFY(daemon.start());
    // The log may not tell when the first check is done: the state does.
    KIRTA_WAIT_VERIFY(
            !daemon.isRunning()
                    || (QDBusConnection::systemBus().interface()->isServiceRegistered(SERVICE)
                        && describe(callDaemon(QStringLiteral("getCurrentStateAsInt")))
                                   == QLatin1String("i 1")),
            START_TIMEOUT_MS);
    QVERIFY(daemon.isRunning());
    const QString address = m_bed.bus().address();

    // Clearing the result (asks who the caller is) and then stopping (the
    // bus policy lets only root send it), in one go.
    QVERIFY(m_tree.writeFile(SUCCESS_STAMP, QByteArray()));
    {
        const QString name = QStringLiteral("ordered");
        QDBusConnection client = QDBusConnection::connectToBus(address, name);
        const auto leave = qScopeGuard([&name] { QDBusConnection::disconnectFromBus(name); });
        const QDBusPendingCall clear = client.asyncCall(
                changeCall(QStringLiteral("removeUpgradeResultStamp"), 1), CALL_TIMEOUT_MS);
        const QDBusPendingCall stop = client.asyncCall(
                changeCall(QStringLiteral("setStateFromOutside"), 3), CALL_TIMEOUT_MS);
        KIRTA_WAIT_VERIFY(clear.isFinished() && stop.isFinished(), CALL_TIMEOUT_MS);
        QCOMPARE(describe(clear.reply()), QStringLiteral("i 0"));
        QCOMPARE(describe(stop.reply()), QStringLiteral("i 0"));
    }
    const QString runs = m_tree.readFile(QStringLiteral("/runs"));
    QVERIFY2(runs.contains(QLatin1String("begin clean\nend clean\n")), qPrintable(runs));
    QVERIFY2(!runs.contains(QLatin1String("stamp there")), "the stop overtook the clear");

    // A sender that has made itself known, then sends a change without
    // waiting for the answer and leaves.
    QVERIFY(m_tree.writeFile(SUCCESS_STAMP, QByteArray()));
    {
        const QString name = QStringLiteral("fire-and-forget");
        QDBusConnection client = QDBusConnection::connectToBus(address, name);
        const auto leave = qScopeGuard([&name] { QDBusConnection::disconnectFromBus(name); });
        QCOMPARE(describe(client.call(QDBusMessage::createMethodCall(
                         SERVICE, OBJECT_PATH, INTERFACE, QStringLiteral("getCurrentStateAsInt")))),
                 QStringLiteral("i -3"));
        QVERIFY(client.send(changeCall(QStringLiteral("removeUpgradeResultStamp"), 1)));
        // The bus answers in order: once it has, it holds the change.
        const QDBusMessage busId = client.call(QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
        QCOMPARE(busId.type(), QDBusMessage::ReplyMessage);
    }
    KIRTA_WAIT_VERIFY(!m_tree.exists(SUCCESS_STAMP), CALL_TIMEOUT_MS);

    QCOMPARE(DaemonProcess::logText().contains(BUS_DECISION_LINE), busLineWritten);
    if (busLineWritten)
        QVERIFY(DaemonProcess::logText().contains(BUS_DECISION_LINE
                                                  + QStringLiteral("setStateFromOutside from :")));
    QVERIFY(daemon.isRunning());
}

// After a failed upgrade at reboot the daemon registers while its rollback
// still runs: reads are answered at once, changes wait for the rollback and
// never run a stage beside it.
void TestDbusServiceDaemon::changesWaitForTheStartUpRollback()
{
    QVERIFY(m_tree.writeFile(CONFIG_PATH, SandboxTree::sampleConfiguration().replace(
                                                  QStringLiteral("Snapshot=false"),
                                                  QStringLiteral("Snapshot=true"))));
    for (const QString &stamp : {QStringLiteral("snapshot"), QStringLiteral("unsuccessful")})
        QVERIFY(m_tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/") + stamp,
                                 QByteArray()));
    QVERIFY(installNotingStageProgram());
    DaemonProcess daemon;
    QVERIFY(daemon.start());
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    KIRTA_WAIT_VERIFY(bus->isServiceRegistered(SERVICE)
                              && m_tree.readFile(QStringLiteral("/runs"))
                                         .startsWith(QLatin1String("begin rollback\n")),
                      START_TIMEOUT_MS);

    const QDBusPendingCall stop = QDBusConnection::systemBus().asyncCall(
            changeCall(QStringLiteral("setStateFromOutside"), 3), CALL_TIMEOUT_MS);
    QElapsedTimer took;
    took.start();
    QCOMPARE(describe(callDaemon(QStringLiteral("getCurrentStateAsString"))),
             QStringLiteral("s unknown"));
    QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    QVERIFY2(!stop.isFinished(), "the stop did not wait for the rollback");
    KIRTA_WAIT_VERIFY(stop.isFinished(), CALL_TIMEOUT_MS);
    QCOMPARE(describe(stop.reply()), QStringLiteral("i 0"));
    QCOMPARE(describe(callDaemon(QStringLiteral("getCurrentStateAsInt"))), QStringLiteral("i -3"));

    // One run at a time, the rollback first and to its end.
    const QStringList runs
            = m_tree.readFile(QStringLiteral("/runs")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(runs.size() >= 4 && runs.size() % 2 == 0, qPrintable(runs.join(QLatin1Char(','))));
    QCOMPARE(runs.mid(0, 2), (QStringList {"begin rollback", "end rollback"}));
    for (int i = 0; i < runs.size(); i += 2)
        QCOMPARE(runs.at(i + 1),
                 QString(runs.at(i)).replace(QLatin1String("begin"), QLatin1String("end")));
    QVERIFY(runs.contains(QStringLiteral("begin clean")));
    QVERIFY(daemon.isRunning());
}

QTEST_GUILESS_MAIN(TestDbusServiceDaemon)
#include "tst_dbusservice_daemon.moc"
