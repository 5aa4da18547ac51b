// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemontestpeer.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QScopeGuard>
#include <QtTest>

#include <cstdio>

namespace {
const QString CONFIG = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString STAGE = QStringLiteral("kirta-update-service");
const QString LOG = QStringLiteral("/var/log/kirta-update-service/service.log");
} // namespace

// The update cycle from the first check to an armed upgrade, with stand-ins
// for every outside program.
class TestUpdateCycle : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    void answer(const QString &program, const QString &word, int code)
    {
        QVERIFY(tree.writeFile(QStringLiteral("/standin/%1.%2.exit").arg(program, word),
                               QString::number(code)));
    }
    void writeConfig(const QString &text) { QVERIFY(tree.writeFile(CONFIG, text)); }
    QStringList calls() const
    {
        return tree.readFile(QStringLiteral("/standin/all.calls")).split('\n', Qt::SkipEmptyParts);
    }
    QStringList stageCalls() const { return tree.standInCalls(STAGE); }
    QString log() const { return tree.readFile(LOG); }

    // The stage program says there is something to upgrade, the download
    // works and every question is answered with yes.
    void happyPath()
    {
        answer(STAGE, QStringLiteral("update"), 1);
        answer(STAGE, QStringLiteral("is_enough_free_space"), 1);
        tree.setStandInOutput(
                QStringLiteral("apt"),
                QStringLiteral("Listing...\nhello/stable 2.0 amd64 [upgradable from: 1.0]\n"));
        tree.setStandInOutput(
                QStringLiteral("apt-cache"),
                QStringLiteral("kirta-version:\n  Installed: 12.4.0\n  Candidate: 12.4.1.7\n"));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.installDaemonStandIns());
        QVERIFY(tree.installStandIn(QStringLiteral("/usr/bin/apt-cache")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/cache/apt/archives")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/log/kirta-update-service")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/cache/kirta-update-service")));
    }

    void downloadToReady()
    {
        happyPath();
        // Seen still running by one poll, gone at the next.
        QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.download.delay"),
                               QStringLiteral("6")));
        writeConfig(QStringLiteral("# administrator's note\nT_check=60\nT_download_min=0\n"
                                   "T_download_max=1\nT_delay=3\nUse_sources_list_d=1\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        const QDateTime started = QDateTime::currentDateTime();
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::WaitingForDownload)
                                  || peer.task() == int(CurrentTask::Downloading),
                          3000);
        QVERIFY(log().contains(QStringLiteral("Generated value for download delay, minutes = 0")));
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::DownloadCompleted), 20000);
        const QDateTime completed = QDateTime::currentDateTime();

        QCOMPARE(stageCalls(), (QStringList {"update 1", "download 1", "downresult"}));
        QCOMPARE(log().count(QStringLiteral("checkDownloadIsFinished(): m_task = 4")), 2);
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::Ready));
        QSettings status(STATUS_FILE_PATH, QSettings::IniFormat);
        QCOMPARE(status.value(STATUS_KEY).toString(), QStringLiteral("ready"));
        QCOMPARE(status.value(TARGET_RELEASE_KEY).toString(), QStringLiteral("12.4.1"));
        const QString config = tree.readFile(CONFIG);
        QVERIFY(config.startsWith(QStringLiteral("# administrator's note\n")));
        QVERIFY(config.contains(QStringLiteral("T_end=")));
        // The deadline is T_delay days after the download's end, to the
        // minute the file keeps.
        SettingsController reread(SETTINGS_PATH);
        reread.load();
        const QDateTime deadline = reread.params().upgrade_time_stamp.second;
        QVERIFY2(deadline > started.addDays(3).addSecs(-60) && deadline <= completed.addDays(3),
                 qPrintable(deadline.toString(DATE_TIME_FORMAT)));
        QVERIFY(peer.checkTEndTimer() && peer.checkTEndTimer()->isActive());
        QVERIFY(peer.checkUpdatesTimer()->isActive());

        // The same list again is nothing new.
        peer.task() = int(CurrentTask::WaitingForUpdates);
        daemon.checkUpdates();
        QCOMPARE(peer.task(), int(CurrentTask::WaitingForUpdates));
    }

    // An update dropped while its download runs is forgotten with it: the
    // download's end never moves the cycle that follows.
    void droppedWhileDownloading_data()
    {
        QTest::addColumn<QList<int>>("outside"); // setStateFromOutside, in turn
        QTest::addColumn<int>("taskAfter");
        const int stop = toInt(OutsideState::Stop);
        const int resume = toInt(OutsideState::Resume);
        QTest::newRow("stop") << QList<int> {stop} << int(CurrentTask::StoppedForMajor);
        QTest::newRow("stop, then resume")
                << QList<int> {stop, resume} << int(CurrentTask::WaitingForUpdates);
        QTest::newRow("resume") << QList<int> {resume} << int(CurrentTask::WaitingForUpdates);
    }

    void droppedWhileDownloading()
    {
        QFETCH(QList<int>, outside);
        QFETCH(int, taskAfter);
        happyPath();
        QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.download.delay"),
                               QStringLiteral("2")));
        writeConfig(QStringLiteral("T_check=60\nT_download_min=0\nT_download_max=0\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::Downloading), 5000);
        for (const int state : outside)
            QCOMPARE(daemon.setStateFromOutside(state), toInt(OutsideAnswer::Done));
        QVERIFY(!peer.download()->isPolling());
        KIRTA_WAIT_VERIFY(!peer.download()->isRunning(), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(peer.task(), taskAfter);
        QVERIFY(!stageCalls().contains(QStringLiteral("downresult")));
    }

    void connectionWaitAndResume()
    {
        tree.setStandInExitCode(QStringLiteral("ping"), 1);
        writeConfig(QStringLiteral("T_check=60\nHost_to_ping=192.0.2.7\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::WaitingForConnection), 3000);
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("wait-for-connection"));
        QCOMPARE(tree.standInCalls(QStringLiteral("ping")).first(),
                 QStringLiteral("192.0.2.7 -c3 -i0.2 -W2"));
        QVERIFY(stageCalls().isEmpty());

        // Failed probes repeat every 5 s however long the wait lasts, so a
        // returning network is seen at once.
        QVector<int> intervals {peer.checkConnectionTimer()->interval()};
        for (int retry = 0; retry < 7; ++retry) {
            daemon.restartTaskByConnection();
            QVERIFY(peer.checkConnectionTimer()->isActive());
            intervals << peer.checkConnectionTimer()->interval();
        }
        QCOMPARE(intervals, QVector<int>(8, 5000));

        tree.setStandInExitCode(QStringLiteral("ping"), 0);
        daemon.restartTaskByConnection();
        KIRTA_WAIT_VERIFY(!stageCalls().isEmpty(), 8000);
        QCOMPARE(stageCalls(), QStringList {"update 1"});
        QCOMPARE(peer.task(), int(CurrentTask::WaitingForUpdates));
        QVERIFY(!peer.checkConnectionTimer()->isActive());
        QCOMPARE(log().count(QStringLiteral("m_logicalTask == CurrentTask::WaitingForUpdates")), 1);

        // The next loss of connection starts from 5 s again.
        tree.setStandInExitCode(QStringLiteral("ping"), 1);
        QVERIFY(!daemon.checkConnection());
        QCOMPARE(peer.checkConnectionTimer()->interval(), 5000);
    }

    // A download due at once (no delay) that finds no connection waits for
    // it quietly: the next try is the connection's own 5 s later, and the
    // download timer does not spin the event loop in between.
    void downloadWithoutDelayWaitsForConnection()
    {
        happyPath();
        writeConfig(QStringLiteral("T_check=60\nT_download_min=0\nT_download_max=0\n"
                                   "Log_level=debug\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::DownloadCompleted), 20000);
        const QString tries
                = QStringLiteral("int Daemon::downloadUpdatesByScript(): try to download");
        QCOMPARE(log().count(tries), 1);

        // The next download is due at once, and the host is gone.
        tree.setStandInExitCode(QStringLiteral("ping"), 1);
        const int pingsBefore = tree.standInCalls(QStringLiteral("ping")).size();
        peer.task() = int(CurrentTask::WaitingForDownload);
        daemon.startDownloadTimer();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::WaitingForConnection), 5000);
        // The connection's own retry, 5 s later, fails as well.
        KIRTA_WAIT_VERIFY(tree.standInCalls(QStringLiteral("ping")).size() >= pingsBefore + 2,
                          12000);
        QCOMPARE(log().count(tries), 2);
        QCOMPARE(log().count(QStringLiteral("int Daemon::downloadUpdatesByScript(): return 1")), 1);
        QCOMPARE(peer.task(), int(CurrentTask::WaitingForConnection));

        // Back: the connection's retry starts the download.
        tree.setStandInExitCode(QStringLiteral("ping"), 0);
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::Downloading)
                                  || peer.task() == int(CurrentTask::DownloadCompleted),
                          12000);
        QCOMPARE(log().count(tries), 3);
    }

    // A stop while the connection is away stays a stop when it comes back.
    void stopDuringConnectionWait()
    {
        tree.setStandInExitCode(QStringLiteral("ping"), 1);
        writeConfig(QStringLiteral("T_check=60\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::WaitingForConnection), 3000);
        QCOMPARE(daemon.setStateFromOutside(3), 0);
        tree.setStandInExitCode(QStringLiteral("ping"), 0);
        KIRTA_WAIT_VERIFY(!peer.checkConnectionTimer()->isActive(), 8000);
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("stopped-for-major"));
        QVERIFY(!stageCalls().contains(QStringLiteral("update 1")));
    }

    void passedDeadlineArmsInOrder()
    {
        happyPath();
        const QString past = QDateTime::currentDateTime().addDays(-1).toString(DATE_TIME_FORMAT);
        writeConfig("T_check=60\nT_download_min=0\nT_download_max=1\nT_end=" + past + "\n");
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(daemon.isUpgradeOnRebootEnabled(), 20000);
        KIRTA_WAIT_VERIFY(QFile::exists(SETTINGS_COPY_PATH), 2000);

        const QStringList expected {
                "kirta-update-service update 1",
                "apt list --upgradable",
                "kirta-update-service download 1",
                "kirta-update-service downresult",
                "apt-cache policy kirta-version",
                "kirta-update-service exec_scripts 0 1",
                "kirta-update-service is_enough_free_space 1",
                "kirta-update-modern -n -A -T -r",
                "kirta-update-service exec_scripts 0 0",
                "kirta-update-service exec_scripts 1 1",
                "kirta-update-service exec_scripts 1 0",
        };
        QStringList seen;
        for (const QString &line : calls()) {
            if (!line.startsWith(QLatin1String("ping")))
                seen << line.simplified();
        }
        QCOMPARE(seen, expected);
        QCOMPARE(QFileInfo(SYS_UPDATE_SYMLINK).symLinkTarget(), APTCACHE_POINT);
        QVERIFY(QFile::exists(UPGRADE_STAMP_PATH));
        QCOMPARE(QSettings(STATUS_FILE_PATH, QSettings::IniFormat).value(STATUS_KEY).toString(),
                 QStringLiteral("activated"));
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("forced"));
        QCOMPARE(tree.readFile(CONFIG), tree.readFile(SETTINGS_COPY_PATH.mid(tree.root().size())));
        QVERIFY(!peer.configWatcher()->files().contains(SETTINGS_PATH));
    }

    // The deadline timer keeps running through the daemon's own write of the
    // deadline and an administrator's edit, and arms once the deadline passes.
    void runningDaemonArmsWhenDeadlinePasses()
    {
        happyPath();
        writeConfig(QStringLiteral("T_check=60\nT_download_min=0\nT_download_max=1\nT_delay=2\n"
                                   "T_end_check=1\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::DownloadCompleted), 20000);
        KIRTA_WAIT_VERIFY(log().count(QStringLiteral("Loading settings, reload = 1")) >= 1, 3000);
        QVERIFY(peer.checkTEndTimer()->isActive());
        peer.checkTEndTimer()->setInterval(200);
        QVERIFY(!daemon.isUpgradeOnRebootEnabled());

        QString edited = tree.readFile(CONFIG);
        edited.replace(
                QRegularExpression(QStringLiteral("T_end=[^\n]*")),
                "T_end=" + QDateTime::currentDateTime().addSecs(-120).toString(DATE_TIME_FORMAT));
        const QString temp = tree.path(CONFIG) + QStringLiteral(".edit");
        QVERIFY(tree.writeFile(CONFIG + QStringLiteral(".edit"), edited));
        QCOMPARE(std::rename(QFile::encodeName(temp).constData(),
                             QFile::encodeName(tree.path(CONFIG)).constData()),
                 0);
        KIRTA_WAIT_VERIFY(daemon.isUpgradeOnRebootEnabled(), 10000);
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::Forced));
    }

    void errorActions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("state");
        QTest::newRow("Stop") << "Stop"
                              << "stopped";
        QTest::newRow("Reset") << "Reset"
                               << "no-updates";
        QTest::newRow("Retry") << "Retry"
                               << "ready";
    }

    void errorActions()
    {
        QFETCH(QString, action);
        QFETCH(QString, state);
        tree.setStandInExitCode(QStringLiteral("kirta-update-modern"), 3);
        answer(STAGE, QStringLiteral("is_enough_free_space"), 1);
        writeConfig("T_check=60\nT_retry=0\nT_end_check=1\nAction_on_error=" + action + "\n");
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = int(CurrentTask::DownloadCompleted);
        QCOMPARE(daemon.enableUpgradeOnReboot(), toInt(ArmDeferred::FirstBlockStarted));
        KIRTA_WAIT_VERIFY(daemon.getCurrentErrorAsInt() == toInt(ErrorNumber::Imitation), 5000);
        QCOMPARE(daemon.getCurrentStateAsString(), state);

        if (action == QLatin1String("Reset")) {
            QCOMPARE(stageCalls().filter(QRegularExpression("^update ")).size(), 1);
            QVERIFY(stageCalls().contains(QStringLiteral("clean")));
        } else if (action == QLatin1String("Stop")) {
            QVERIFY(stageCalls().contains(QStringLiteral("clean")));
            QVERIFY(!peer.checkUpdatesTimer()->isActive());
        } else {
            SettingsController reread(SETTINGS_PATH);
            reread.load();
            QVERIFY(reread.params().retry_time_stamp.first);
            QVERIFY(peer.checkRetryTimeStampTimer()->isActive());
            // Once the retry time has come the first block runs again.
            tree.setStandInExitCode(QStringLiteral("kirta-update-modern"), 0);
            peer.checkRetryTimeStampTimer()->setInterval(100);
            KIRTA_WAIT_VERIFY(daemon.isUpgradeOnRebootEnabled(), 5000);
            QCOMPARE(tree.standInCalls(QStringLiteral("kirta-update-modern")).size(), 2);
            KIRTA_WAIT_VERIFY(!peer.settings()->params().retry_time_stamp.first, 2000);
        }
    }

    // Validators that keep refusing under Reset: one immediate re-check,
    // then the timer takes over.
    void resetIsBounded()
    {
        QVERIFY(tree.writeFile(QStringLiteral("/etc/kirta-update-service/validators.d/10-refuse"),
                               QStringLiteral("#!/bin/sh\nexit 1\n")));
        QVERIFY(QFile::setPermissions(
                tree.path(QStringLiteral("/etc/kirta-update-service/validators.d/10-refuse")),
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        writeConfig(QStringLiteral("T_check=60\nAction_on_error=Reset\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        daemon.checkUpdates();
        QCOMPARE(stageCalls().filter(QRegularExpression("^update ")).size(), 2);
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::Validators));
        QVERIFY(peer.checkUpdatesTimer()->isActive());
        QVERIFY(!peer.checkUpdatesTimer()->signalsBlocked());
    }

    // A failed clean parks the cycle in "error" only until a periodic check
    // manages the clean.
    void failedCleanIsRetried()
    {
        answer(STAGE, QStringLiteral("clean"), 1);
        writeConfig(QStringLiteral("T_check=60\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(daemon.setStateFromOutside(0), 0);
        for (int check = 0; check < 2; ++check) {
            QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("error"));
            QVERIFY(peer.checkUpdatesTimer()->isActive());
            daemon.checkUpdates();
        }
        QCOMPARE(stageCalls(), (QStringList {"clean", "clean", "clean"}));
        answer(STAGE, QStringLiteral("clean"), 0);
        daemon.checkUpdates();
        QCOMPARE(daemon.getCurrentStateAsString(), QStringLiteral("no-updates"));
        QCOMPARE(stageCalls().mid(3), (QStringList {"clean", "update 1"}));
        QVERIFY(peer.checkUpdatesTimer()->isActive());
    }

    // A blocking stage that gives no answer never reads as success.
    void stageWithoutAnswer()
    {
        QVERIFY(QFile::remove(tree.path(QStringLiteral("/usr/sbin/kirta-update-service"))));
        writeConfig(QStringLiteral("T_check=60\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(daemon.checkUpdatesByScript(), 0);
        QVERIFY(daemon.getDownloadResult() != 0);
        QVERIFY(daemon.cleanCacheByScript() != 0);
        QVERIFY(log().contains(QStringLiteral("could not be started")));

        // A download that cannot start goes back to waiting for it.
        peer.task() = int(CurrentTask::WaitingForDownload);
        QCOMPARE(daemon.downloadUpdatesByScript(), 1);
        QCOMPARE(peer.task(), int(CurrentTask::WaitingForDownload));
        QVERIFY(peer.downloadUpdatesTimer()->isActive());
        QVERIFY(!peer.download()->isPolling());
    }

    void afterUpgradeAtReboot_data()
    {
        QTest::addColumn<QStringList>("stamps");
        QTest::addColumn<int>("fsType");
        QTest::addColumn<QString>("stageRun");
        QTest::addColumn<bool>("triggerWatch");
        const QString snapshot = QStringLiteral("snapshot");
        QTest::newRow("failed upgrade rolls back")
                << QStringList {snapshot, "unsuccessful", "successful"} << toInt(FsType::Other)
                << "rollback" << false;
        QTest::newRow("success drops the snapshot")
                << QStringList {snapshot, "successful"} << toInt(FsType::Other) << "rm_snapshot"
                << false;
        QTest::newRow("success on LVM hands over to the trigger")
                << QStringList {snapshot, "successful"} << toInt(FsType::Lvm) << "" << true;
        QTest::newRow("no snapshot stamp")
                << QStringList {"successful"} << toInt(FsType::Lvm) << "" << false;
    }

    void afterUpgradeAtReboot()
    {
        QFETCH(QStringList, stamps);
        QFETCH(int, fsType);
        QFETCH(QString, stageRun);
        QFETCH(bool, triggerWatch);
        for (const QString &stamp : stamps)
            QVERIFY(tree.writeFile("/var/cache/kirta-update-service/" + stamp, QByteArray()));
        answer(STAGE, QStringLiteral("get_fs_type"), fsType);
        answer(STAGE, QStringLiteral("snapshot_manager_installed"), 1);
        QVERIFY(tree.writeFile(
                QStringLiteral("/var/cache/kirta-update-service/automatization_trigger"),
                QStringLiteral("10:00 01.01.2099\n")));
        writeConfig(QStringLiteral("T_check=60\nSnapshot=%1\n")
                            .arg(stamps.contains(QStringLiteral("snapshot")) ? "true" : "false"));
        Daemon daemon;
        daemon.loadSettings(false);
        daemon.areWeAfterMinorUpgrade();
        // The next stage run waits for the recovery run.
        daemon.cleanCacheByScript();
        const QStringList runs
                = stageCalls().filter(QRegularExpression("^(rollback|rm_snapshot)$"));
        QCOMPARE(runs, stageRun.isEmpty() ? QStringList() : QStringList {stageRun});
        QCOMPARE(log().contains(QLatin1String("Start checking automatization trigger")),
                 triggerWatch);
    }

    // Only the offline upgrade's mark makes a start the one after the
    // upgrade: then the frozen configuration comes back and the deadline and
    // retry stamp of the upgrade just done are cleared, once. A result stamp
    // nobody cleared does not: a plain restart keeps the upgrade armed, the
    // configuration frozen and the deadline.
    void startAfterOrWithoutTheUpgrade_data()
    {
        QTest::addColumn<QString>("stamp");
        QTest::addColumn<bool>("upgradeRan");
        QTest::newRow("upgrade ran, successful") << "successful" << true;
        QTest::newRow("upgrade ran, unsuccessful") << "unsuccessful" << true;
        QTest::newRow("restart, old success stamp") << "successful" << false;
        QTest::newRow("restart, old failure stamp") << "unsuccessful" << false;
        QTest::newRow("restart, no stamp") << "" << false;
    }

    void startAfterOrWithoutTheUpgrade()
    {
        QFETCH(QString, stamp);
        QFETCH(bool, upgradeRan);
        const QString state = QStringLiteral("/var/cache/kirta-update-service/");
        const QString frozen = QStringLiteral("T_check=60\nT_end=10:00 01.01.2020\n"
                                              "Retry_time_stamp=10:00 01.01.2020\n");
        // Edited while frozen: the restored copy must win after the upgrade.
        writeConfig(frozen + QStringLiteral("T_delay=9\n"));
        QVERIFY(tree.writeFile(state + "kirta-update-daemon.conf", frozen));
        if (!stamp.isEmpty())
            QVERIFY(tree.writeFile(state + stamp, QByteArray()));
        QVERIFY(tree.writeFile(state + "status",
                               QByteArray("[General]\nstatus=activated\ntarget_release=12.4.1\n")));
        QVERIFY(tree.writeFile(state + "upgradable", QByteArray()));
        if (upgradeRan)
            QVERIFY(tree.writeFile(state + "upgrade_ran", QByteArray()));
        else
            QVERIFY(QFile::link(tree.path(QStringLiteral("/var/cache/apt/archives")),
                                tree.path(QStringLiteral("/system-update"))));
        {
            Daemon daemon;
            DaemonTestPeer peer(daemon);
            daemon.start();
            QCOMPARE(daemon.startedAfterUpgradeAtReboot(), upgradeRan);
            QVERIFY(!tree.exists(state + "upgrade_ran"));
            if (upgradeRan) {
                QCOMPARE(daemon.getUpdateDateAsString(),
                         QStringLiteral("Upgrade date not set or not valid"));
                QVERIFY(!peer.checkTEndTimer() || !peer.checkTEndTimer()->isActive());
                QVERIFY(!peer.checkRetryTimeStampTimer()
                        || !peer.checkRetryTimeStampTimer()->isActive());
                QVERIFY(!tree.exists(state + "kirta-update-daemon.conf"));
                QVERIFY(!daemon.isUpgradeOnRebootEnabled());
            } else {
                QCOMPARE(daemon.getUpdateDateAsString(), QStringLiteral("10:00 01.01.2020"));
                QVERIFY(tree.exists(state + "kirta-update-daemon.conf"));
                QVERIFY(daemon.isUpgradeOnRebootEnabled());
                QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::Forced));
                QCOMPARE(daemon.getMinorUpdateVersion(), QStringLiteral("12.4.1"));
                // Armed, the daemon neither checks nor downloads again.
                QVERIFY(!peer.checkUpdatesTimer()->isActive());
                QTest::qWait(300);
                QCOMPARE(stageCalls(), QStringList());
                QVERIFY(QFileInfo(tree.path(QStringLiteral("/system-update"))).isSymLink());
                QSettings status(STATUS_FILE_PATH, QSettings::IniFormat);
                QCOMPARE(status.value(STATUS_KEY).toString(), QStringLiteral("activated"));
            }
        }
        QCOMPARE(tree.readFile(CONFIG).contains(QStringLiteral("10:00 01.01.2020")), !upgradeRan);
        QCOMPARE(tree.readFile(CONFIG).contains(QStringLiteral("T_delay=9")), !upgradeRan);

        // Later starts leave a new deadline alone although the stamp stays.
        if (upgradeRan) {
            writeConfig(QStringLiteral("T_check=60\nT_end=10:00 01.01.2099\n"));
            Daemon later;
            later.start();
            QVERIFY(!later.startedAfterUpgradeAtReboot());
            QCOMPARE(later.getUpdateDateAsString(), QStringLiteral("10:00 01.01.2099"));
        }
    }

    void rollbackOutlastingAStageWaitIsNotCutOff()
    {
        // Longer than the 30 s a stage run is given; the mark shows it ran
        // to its end.
        const QString program = QStringLiteral("/usr/sbin/kirta-update-service");
        QVERIFY(tree.writeFile(program,
                               QStringLiteral("#!/bin/sh\n"
                                              "echo \"$*\" >>\"$KIRTA_SYSROOT/runs\"\n"
                                              "[ \"$1\" = rollback ] || exit 0\n"
                                              "sleep 32\n"
                                              "echo rolled back >>\"$KIRTA_SYSROOT/runs\"\n")));
        QVERIFY(QFile::setPermissions(tree.path(program),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const QString &stamp : {QStringLiteral("snapshot"), QStringLiteral("unsuccessful")})
            QVERIFY(tree.writeFile("/var/cache/kirta-update-service/" + stamp, QByteArray()));
        writeConfig(QStringLiteral("T_check=60\nSnapshot=true\n"));
        Daemon daemon;
        daemon.loadSettings(false);
        daemon.areWeAfterMinorUpgrade();
        QCOMPARE(daemon.checkUpdatesByScript(), 0);
        QCOMPARE(tree.readFile(QStringLiteral("/runs")),
                 QStringLiteral("rollback\nrolled back\nupdate 1\n"));
        QVERIFY(!log().contains(QStringLiteral("taken as exit code")));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCycle)
#include "tst_updatecycle.moc"
