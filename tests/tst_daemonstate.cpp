// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

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

        QTest::newRow("unknown") << toInt(CurrentTask::Unknown) << false << false << none
                                 << "unknown" << toInt(StateNumber::Undefined);
        QTest::newRow("wait-for-connection")
                << toInt(CurrentTask::WaitingForConnection) << false << false << none
                << "wait-for-connection" << toInt(StateNumber::WaitingForConnection);
        QTest::newRow("no-updates") << toInt(CurrentTask::WaitingForUpdates) << false << false
                                    << none << "no-updates" << toInt(StateNumber::NoUpdates);
        QTest::newRow("wait-for-download")
                << toInt(CurrentTask::WaitingForDownload) << false << false << none
                << "wait-for-download" << toInt(StateNumber::WaitingForDownload);
        QTest::newRow("downloading") << toInt(CurrentTask::Downloading) << false << false << none
                                     << "downloading" << toInt(StateNumber::Downloading);
        QTest::newRow("error") << toInt(CurrentTask::Error) << false << false << none << "error"
                               << toInt(StateNumber::Undefined);
        QTest::newRow("stopped") << toInt(CurrentTask::Stopped) << false << false << none
                                 << "stopped" << toInt(StateNumber::Stopped);
        QTest::newRow("stopped-for-major")
                << toInt(CurrentTask::StoppedForMajor) << false << false << none
                << "stopped-for-major" << toInt(StateNumber::StoppedForMajor);
        QTest::newRow("above range")
                << 9 << false << false << none << "error" << toInt(StateNumber::Undefined);
        QTest::newRow("far above range")
                << 1000 << true << true << past << "error" << toInt(StateNumber::Undefined);
        QTest::newRow("negative") << -5 << false << false << none << "error"
                                  << toInt(StateNumber::Undefined);

        QTest::newRow("ready") << toInt(CurrentTask::DownloadCompleted) << false << false << none
                               << "ready" << toInt(StateNumber::Ready);
        QTest::newRow("ready though forced")
                << toInt(CurrentTask::DownloadCompleted) << false << true << none << "ready"
                << toInt(StateNumber::Ready);
        QTest::newRow("ready though deadline passed")
                << toInt(CurrentTask::DownloadCompleted) << false << false << past << "ready"
                << toInt(StateNumber::Ready);
        QTest::newRow("activated") << toInt(CurrentTask::DownloadCompleted) << true << false << none
                                   << "activated" << toInt(StateNumber::Activated);
        QTest::newRow("activated, deadline ahead")
                << toInt(CurrentTask::DownloadCompleted) << true << false << future << "activated"
                << toInt(StateNumber::Activated);
        QTest::newRow("forced by mode") << toInt(CurrentTask::DownloadCompleted) << true << true
                                        << none << "forced" << toInt(StateNumber::Forced);
        QTest::newRow("forced by deadline")
                << toInt(CurrentTask::DownloadCompleted) << true << false << past << "forced"
                << toInt(StateNumber::Forced);
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
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::Undefined));
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::None));
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
        peer.check()->setRelease(QStringLiteral("12.4.1"));
        QCOMPARE(daemon.getMinorUpdateVersion(), QStringLiteral("12.4.1"));
    }
};

QTEST_GUILESS_MAIN(TestDaemonState)
#include "tst_daemonstate.moc"
