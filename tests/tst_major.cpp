#include "constants.h"
#include "daemontestpeer.h"
#include "sandbox.h"

#include <QtTest>

namespace {
const QString REPORT = QStringLiteral("/var/cache/kirta-upgrade/upgrade.report.yaml");
const QString STAGE = QStringLiteral("kirta-update-service");
} // namespace

// Standing aside while a major-release upgrade is pending, and the state
// changes asked for from outside.
class TestMajor : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    void toolInstalled(bool installed)
    {
        QVERIFY(tree.writeFile(QStringLiteral("/standin/dpkg-query.output"),
                               installed ? QStringLiteral("ii  kirta-upgrade 1.0\n") : QString()));
        QVERIFY(tree.setStandInExitCode(QStringLiteral("dpkg-query"), installed ? 0 : 1));
    }
    int cleans() const { return tree.standInCalls(STAGE).count(QStringLiteral("clean")); }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.installDaemonStandIns());
        QVERIFY(tree.installStandIn(QStringLiteral("/usr/bin/dpkg-query")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/log/kirta-update-service")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/cache/kirta-update-service")));
        QVERIFY(tree.writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                               QStringLiteral("T_check=60\n")));
    }

    void reportTimerFollowsInstallation()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        toolInstalled(false);
        daemon.checkisMajorUpdateInstalled();
        QVERIFY(!peer.checkMajorReportTimer());
        toolInstalled(true);
        daemon.checkisMajorUpdateInstalled();
        QVERIFY(peer.checkMajorReportTimer()->isActive());
        QCOMPARE(peer.checkMajorReportTimer()->interval(), 10000);
        toolInstalled(false);
        daemon.checkisMajorUpdateInstalled();
        QVERIFY(!peer.checkMajorReportTimer()->isActive());
    }

    void reportModes_data()
    {
        QTest::addColumn<QString>("report"); // empty: no report file
        QTest::addColumn<int>("mode");
        QTest::newRow("no report") << QString() << -1;
        QTest::newRow("nothing pending") << "upgrade_mode: 0\n" << 0;
        QTest::newRow("pending") << "upgrade_mode: 3\n" << 1;
        QTest::newRow("armed") << "upgrade_mode: 4\n" << 2;
        QTest::newRow("forced") << "upgrade_mode: 0\nforced: true\n" << 3;
        QTest::newRow("no usable state") << "something: else\n" << -1;
        QTest::newRow("garbage") << "{{{{ not yaml" << -1;
    }

    void reportModes()
    {
        QFETCH(QString, report);
        QFETCH(int, mode);
        if (!report.isNull())
            QVERIFY(tree.writeFile(REPORT, report));
        Daemon daemon;
        QCOMPARE(daemon.getMajorReportMode(), mode);
    }

    void standAsideAndResume()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = int(CurrentTask::WaitingForDownload);
        QVERIFY(tree.writeFile(REPORT, QStringLiteral("upgrade_mode: 3\n")));
        daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsInt(), -3);
        QCOMPARE(cleans(), 1);
        daemon.checkMajorReport();
        QCOMPARE(cleans(), 1);

        QVERIFY(QFile::remove(MAJOR_REPORT_PATH));
        daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("no-updates"));
        QVERIFY(peer.checkUpdatesTimer()->isActive());
    }

    // With an error recorded the stop ends in "stopped"; later report checks
    // must neither clean again nor go after the holder of the package lock.
    void stoppedWithErrorIsLeftAlone()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.currentError() = 2;
        QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.clean.exit"),
                               QStringLiteral("100")));
        QVERIFY(tree.setStandInOutput(QStringLiteral("lsof"), QStringLiteral("p4242\n")));
        QVERIFY(tree.writeFile(REPORT, QStringLiteral("upgrade_mode: 3\n")));
        for (int check = 0; check < 3; ++check)
            daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("stopped"));
        QCOMPARE(cleans(), 1);
        QVERIFY(tree.standInCalls(QStringLiteral("lsof")).isEmpty());
        // The report going away does not lift a stop with an error.
        QVERIFY(QFile::remove(MAJOR_REPORT_PATH));
        daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("stopped"));
    }

    void uninstalledToolResumes()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(daemon.setStateFromOutside(3), 0);
        QCOMPARE(peer.task(), int(CurrentTask::StoppedForMajor));
        toolInstalled(false);
        daemon.checkisMajorUpdateInstalled();
        QCOMPARE(peer.task(), int(CurrentTask::WaitingForUpdates));
    }

    void stateFromOutside_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("taskAfter");
        QTest::newRow("0 drops and resumes") << 3 << 0 << 0 << 2;
        QTest::newRow("1 disarms nothing armed") << 2 << 1 << 11 << 2;
        QTest::newRow("2 before the download") << 3 << 2 << -10 << 3;
        QTest::newRow("3 stops") << 3 << 3 << 0 << 8;
        QTest::newRow("4 forced mode") << 4 << 4 << 0 << 4;
        QTest::newRow("5 stops") << 3 << 5 << 0 << 8;
        QTest::newRow("6 unknown") << 3 << 6 << -1 << 3;
        QTest::newRow("-1 unknown") << 3 << -1 << -1 << 3;
    }

    void stateFromOutside()
    {
        QFETCH(int, task);
        QFETCH(int, state);
        QFETCH(int, result);
        QFETCH(int, taskAfter);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = task;
        QCOMPARE(daemon.setStateFromOutside(state), result);
        QCOMPARE(peer.task(), taskAfter);
        if (state == 2)
            QVERIFY(peer.upgradeMustBeEnabled());
        if (state == 4)
            QVERIFY(peer.forcedMode());
    }
};

QTEST_GUILESS_MAIN(TestMajor)
#include "tst_major.moc"
