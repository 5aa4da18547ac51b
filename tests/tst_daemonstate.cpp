#include "constants.h"
#include "daemontestpeer.h"
#include "sandbox.h"

#include <QtTest>

// How the task, the arming flags and the deadline reach clients as a state
// word and a state number.
class TestDaemonState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        SandboxTree tree;
        QVERIFY(tree.reset());
        QVERIFY(tree.mkpath(QStringLiteral("/var/log/kirta-update-service")));
    }

    void rendering_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("forced");
        QTest::addColumn<QString>("deadline");
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("number");

        const QString none;
        const QString past = QDateTime::currentDateTime().addSecs(-3600).toString(DATE_TIME_FORMAT);
        const QString future = QDateTime::currentDateTime().addDays(2).toString(DATE_TIME_FORMAT);

        QTest::newRow("unknown") << 0 << false << false << none << "unknown" << -1;
        QTest::newRow("wait-for-connection")
                << 1 << false << false << none << "wait-for-connection" << 0;
        QTest::newRow("no-updates") << 2 << false << false << none << "no-updates" << 1;
        QTest::newRow("wait-for-download")
                << 3 << false << false << none << "wait-for-download" << 2;
        QTest::newRow("downloading") << 4 << false << false << none << "downloading" << 3;
        QTest::newRow("error") << 6 << false << false << none << "error" << -1;
        QTest::newRow("stopped") << 7 << false << false << none << "stopped" << -2;
        QTest::newRow("stopped-for-major")
                << 8 << false << false << none << "stopped-for-major" << -3;
        QTest::newRow("above range") << 9 << false << false << none << "error" << -1;
        QTest::newRow("far above range") << 1000 << true << true << past << "error" << -1;
        QTest::newRow("negative") << -5 << false << false << none << "error" << -1;

        QTest::newRow("ready") << 5 << false << false << none << "ready" << 4;
        QTest::newRow("ready though forced") << 5 << false << true << none << "ready" << 4;
        QTest::newRow("ready though deadline passed")
                << 5 << false << false << past << "ready" << 4;
        QTest::newRow("activated") << 5 << true << false << none << "activated" << 5;
        QTest::newRow("activated, deadline ahead")
                << 5 << true << false << future << "activated" << 5;
        QTest::newRow("forced by mode") << 5 << true << true << none << "forced" << 6;
        QTest::newRow("forced by deadline") << 5 << true << false << past << "forced" << 6;
    }

    void rendering()
    {
        QFETCH(int, task);
        QFETCH(bool, armed);
        QFETCH(bool, forced);
        QFETCH(QString, deadline);
        QFETCH(QString, word);
        QFETCH(int, number);

        SandboxTree tree;
        QVERIFY(tree.writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                               deadline.isEmpty() ? QString()
                                                  : QStringLiteral("T_end=") + deadline + '\n'));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = task;
        peer.upgradeEnabled() = armed;
        peer.forcedMode() = forced;

        QCOMPARE(daemon.getCurrentStateAsString(), word);
        QCOMPARE(daemon.getCurrentStateAsInt(), number);
    }

    void freshDaemonIsUnknown()
    {
        Daemon daemon;
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("unknown"));
        QCOMPARE(daemon.getCurrentStateAsInt(), -1);
        QCOMPARE(daemon.getCurrentErrorAsInt(), -1);
    }

    void updateDate_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("expected");
        QTest::newRow("set") << "T_end=07:05 09.12.2026\n"
                             << "07:05 09.12.2026";
        QTest::newRow("absent") << "T_check=5\n"
                                << "Upgrade date not set or not valid";
        QTest::newRow("malformed") << "T_end=tomorrow\n"
                                   << "Upgrade date not set or not valid";
    }

    void updateDate()
    {
        QFETCH(QString, config);
        QFETCH(QString, expected);
        SandboxTree tree;
        QVERIFY(tree.writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                               config));
        Daemon daemon;
        daemon.loadSettings(false);
        QCOMPARE(daemon.getUpdateDateAsString(), expected);
    }

    void updateDateIgnoresPresenceFlag()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        Params params = peer.settings()->params();
        params.upgrade_time_stamp = {false, QDateTime(QDate(2026, 12, 24), QTime(18, 30))};
        peer.settings()->setParams(params);
        QCOMPARE(daemon.getUpdateDateAsString(), QStringLiteral("18:30 24.12.2026"));
    }

    void minorVersion()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        QCOMPARE(daemon.getMinorUpdateVersion(), QStringLiteral("Version unknown"));
        peer.availUpdateVersion() = QStringLiteral("12.4.1");
        QCOMPARE(daemon.getMinorUpdateVersion(), QStringLiteral("12.4.1"));
    }
};

QTEST_GUILESS_MAIN(TestDaemonState)
#include "tst_daemonstate.moc"
