#include "daemonprocess.h"
#include "privatebus.h"
#include "sandbox.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QtDBus>
#include <QtTest>

namespace {
const QString SERVICE = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice");
const QString PATH = QStringLiteral("/os/kirtalinux/zun/kirtaupdateservice");
const QString FAILED_STAMP = QStringLiteral("/var/cache/kirta-update-service/unsuccessful");
const QString SUCCESS_STAMP = QStringLiteral("/var/cache/kirta-update-service/successful");
const QString MAJOR_STAMP = QStringLiteral("/var/cache/kirta-upgrade/successful");
} // namespace

// The commands of kirta-update-ctl that change the daemon's files, against
// the real sandboxed daemon: what they say and what they leave on disk.
class TestUpdateCtlDaemon : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    SandboxTree tree;

    int state() const
    {
        QDBusInterface daemon(SERVICE, PATH, SERVICE, QDBusConnection::systemBus());
        const QDBusReply<int> reply = daemon.call(QStringLiteral("getCurrentStateAsInt"));
        return reply.isValid() ? reply.value() : -100;
    }

    QString ctl(const QString &command, int *exitCode)
    {
        QProcess process;
        process.setProcessEnvironment(
                activationToolEnvironment(QProcessEnvironment::systemEnvironment()));
        process.start(qEnvironmentVariable("KIRTA_BIN_DIR") + QStringLiteral("/kirta-update-ctl"),
                      {command});
        *exitCode = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000)
                            ? process.exitCode()
                            : -100;
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.errorString()));
        QVERIFY(tree.reset());
        QVERIFY(tree.installDaemonStandIns());
        QVERIFY(tree.installStandIn(QStringLiteral("/usr/bin/apt-cache")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/cache/apt/archives")));
        QVERIFY(tree.writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                               QStringLiteral("T_check=60\nT_download_min=0\nT_download_max=1\n")));
        for (const char *answer : {"update.exit", "is_enough_free_space.exit"})
            QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.") + answer,
                                   QByteArray("1")));
        QVERIFY(tree.setStandInOutput(QStringLiteral("apt"),
                                      QStringLiteral("Listing...\nhello/stable 2.0 amd64\n")));
    }

    void disarmAndClearResult()
    {
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(state() == 4, 20000);
        QDBusInterface methods(SERVICE, PATH, SERVICE, QDBusConnection::systemBus());
        QCOMPARE(QDBusReply<int>(methods.call(QStringLiteral("enableUpgradeOnReboot"))).value(),
                 -5);
        KIRTA_WAIT_VERIFY(state() == 5, 20000);

        int exitCode = -1;
        QCOMPARE(ctl(QStringLiteral("disarm"), &exitCode),
                 QStringLiteral("Disarmed: the update is not installed at the next restart.\n"));
        QCOMPARE(exitCode, 0);
        QCOMPARE(state(), 4);
        QVERIFY(!QFileInfo(tree.path(QStringLiteral("/system-update"))).isSymLink());
        QCOMPARE(ctl(QStringLiteral("disarm"), &exitCode), QStringLiteral("Nothing was armed.\n"));
        QCOMPARE(exitCode, 0);

        // Both results of a minor upgrade go; the major-release tool's stay.
        for (const QString &stamp : {FAILED_STAMP, SUCCESS_STAMP, MAJOR_STAMP})
            QVERIFY(tree.writeFile(stamp, QByteArray()));
        QCOMPARE(ctl(QStringLiteral("clear-result"), &exitCode),
                 QStringLiteral("Cleared the result of the last offline upgrade.\n"));
        QCOMPARE(exitCode, 0);
        QVERIFY(!tree.exists(FAILED_STAMP));
        QVERIFY(!tree.exists(SUCCESS_STAMP));
        QVERIFY(tree.exists(MAJOR_STAMP));
        QCOMPARE(ctl(QStringLiteral("clear-result"), &exitCode),
                 QStringLiteral("No result to clear.\n"));
        QCOMPARE(exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdateCtlDaemon)
#include "tst_updatectl_daemon.moc"
