// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

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

    void standAsideAndResume()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = int(CurrentTask::WaitingForDownload);
        QVERIFY(tree.writeFile(REPORT, QStringLiteral("upgrade_mode: 3\n")));
        daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::StoppedForMajor));
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
        peer.currentError() = toInt(ErrorNumber::Imitation);
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
        QCOMPARE(daemon.setStateFromOutside(toInt(OutsideState::Stop)), toInt(OutsideAnswer::Done));
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
        QTest::newRow("0 drops and resumes")
                << toInt(CurrentTask::WaitingForDownload) << toInt(OutsideState::Resume)
                << toInt(OutsideAnswer::Done) << toInt(CurrentTask::WaitingForUpdates);
        QTest::newRow("1 disarms nothing armed")
                << toInt(CurrentTask::WaitingForUpdates) << toInt(OutsideState::Ready)
                << toInt(DisarmLink::Absent) + toInt(StampPart::AlreadySo)
                << toInt(CurrentTask::WaitingForUpdates);
        QTest::newRow("2 before the download")
                << toInt(CurrentTask::WaitingForDownload) << toInt(OutsideState::Arm)
                << toInt(ArmDeferred::UntilDownloaded) << toInt(CurrentTask::WaitingForDownload);
        QTest::newRow("3 stops") << toInt(CurrentTask::WaitingForDownload)
                                 << toInt(OutsideState::Stop) << toInt(OutsideAnswer::Done)
                                 << toInt(CurrentTask::StoppedForMajor);
        QTest::newRow("4 forced mode")
                << toInt(CurrentTask::Downloading) << toInt(OutsideState::Forced)
                << toInt(OutsideAnswer::Done) << toInt(CurrentTask::Downloading);
        QTest::newRow("5 stops") << toInt(CurrentTask::WaitingForDownload)
                                 << toInt(OutsideState::StopEvenForced)
                                 << toInt(OutsideAnswer::Done)
                                 << toInt(CurrentTask::StoppedForMajor);
        QTest::newRow("6 unknown")
                << toInt(CurrentTask::WaitingForDownload) << 6 << toInt(OutsideAnswer::UnknownState)
                << toInt(CurrentTask::WaitingForDownload);
        QTest::newRow("-1 unknown")
                << toInt(CurrentTask::WaitingForDownload) << -1
                << toInt(OutsideAnswer::UnknownState) << toInt(CurrentTask::WaitingForDownload);
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
        if (state == toInt(OutsideState::Arm))
            QVERIFY(peer.upgradeMustBeEnabled());
        if (state == toInt(OutsideState::Forced))
            QVERIFY(peer.forcedMode());
    }
};

QTEST_GUILESS_MAIN(TestMajor)
#include "tst_major.moc"
