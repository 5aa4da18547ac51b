// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemontestpeer.h"
#include "filemove.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QtTest>

#include <unistd.h>

namespace {
const QString CONFIG = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString COPY = QStringLiteral("/var/cache/kirta-update-service/kirta-update-daemon.conf");
const QString PARKING = QStringLiteral("/tmp/kirta-update-daemon.conf");
const QString LINK = QStringLiteral("/system-update");
const QString STAMP = QStringLiteral("/var/cache/kirta-update-service/upgradable");
const QString LOG = QStringLiteral("/var/log/kirta-update-service/service.log");
} // namespace

// Arming and disarming the offline upgrade, and the configuration frozen
// meanwhile and put back after the upgrade at reboot.
class TestArming : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    QString status() const
    {
        return QSettings(STATUS_FILE_PATH, QSettings::IniFormat).value(STATUS_KEY).toString();
    }

    // A daemon whose download is complete and whose first block has passed.
    void makeReady(Daemon &daemon)
    {
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = int(CurrentTask::DownloadCompleted);
        peer.firstBlockPassed() = true;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.installDaemonStandIns());
        for (const char *dir : {"/var/log/kirta-update-service", "/var/cache/kirta-update-service",
                                "/var/cache/apt/archives", "/tmp"})
            QVERIFY(tree.mkpath(QLatin1String(dir)));
        QVERIFY(tree.writeFile(CONFIG, QStringLiteral("# kept\nT_check=60\n")));
    }

    void enable_data()
    {
        QTest::addColumn<QString>("atLink"); // none, link, file, dangling, dir
        QTest::addColumn<bool>("stampThere");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("armed");
        QTest::newRow("nothing there")
                << "none" << false << toInt(ArmLink::Created) + toInt(StampPart::Changed) << true;
        QTest::newRow("link and stamp already there")
                << "link" << true << toInt(ArmLink::Kept) + toInt(StampPart::AlreadySo) << true;
        QTest::newRow("plain file replaced")
                << "file" << false << toInt(ArmLink::Replaced) + toInt(StampPart::Changed) << true;
        QTest::newRow("plain file replaced, stamp there")
                << "file" << true << toInt(ArmLink::Replaced) + toInt(StampPart::AlreadySo) << true;
        QTest::newRow("dangling link")
                << "dangling" << false << toInt(ArmLink::CreateFailed) + toInt(StampPart::Changed)
                << false;
        QTest::newRow("directory stays")
                << "dir" << false << toInt(ArmLink::RemoveFailed) + toInt(StampPart::Changed)
                << false;
        QTest::newRow("directory stays, stamp there")
                << "dir" << true << toInt(ArmLink::RemoveFailed) + toInt(StampPart::AlreadySo)
                << false;
    }

    void enable()
    {
        QFETCH(QString, atLink);
        QFETCH(bool, stampThere);
        QFETCH(int, code);
        QFETCH(bool, armed);
        const QString link = tree.path(LINK);
        if (atLink == QLatin1String("link"))
            QVERIFY(QFile::link(APTCACHE_POINT, link));
        else if (atLink == QLatin1String("file"))
            QVERIFY(tree.writeFile(LINK, QByteArray("x")));
        else if (atLink == QLatin1String("dangling"))
            QVERIFY(QFile::link(tree.path(QStringLiteral("/nowhere")), link));
        else if (atLink == QLatin1String("dir"))
            QVERIFY(tree.mkpath(LINK));
        if (stampThere)
            QVERIFY(tree.writeFile(STAMP, QByteArray()));

        Daemon daemon;
        makeReady(daemon);
        QCOMPARE(daemon.enableUpgradeOnReboot(), code);
        QCOMPARE(daemon.isUpgradeOnRebootEnabled(), armed);
        // A failed arm takes itself back and says so.
        QCOMPARE(tree.exists(STAMP), armed);
        QCOMPARE(daemon.getCurrentErrorAsInt(),
                 toInt(armed ? ErrorNumber::None : ErrorNumber::ArmingFailed));
        QCOMPARE(DaemonTestPeer(daemon).checkUpdatesTimer()->isActive(), !armed);
        QCOMPARE(status(), armed ? QStringLiteral("activated") : QStringLiteral("ready"));
        QCOMPARE(daemon.getCurrentStateAsInt(),
                 toInt(armed ? StateNumber::Activated : StateNumber::Ready));
        if (armed) {
            QCOMPARE(QFileInfo(link).symLinkTarget(), APTCACHE_POINT);
            QVERIFY(daemon.isUpgradeAlreadySet());
        }
        const QStringList hooks = tree.standInCalls(QStringLiteral("kirta-update-service"));
        QCOMPARE(hooks.contains(QStringLiteral("exec_scripts 1 0")), armed);
    }

    // The first block passed but the link cannot be made: the configuration
    // is neither frozen nor unwatched, and a later arm clears the error.
    void failedArmAfterImitation()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        peer.task() = int(CurrentTask::DownloadCompleted);
        QVERIFY(tree.mkpath(LINK));
        daemon.getImitationResult(0);
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::ArmingFailed));
        QVERIFY(!tree.exists(COPY));
        QVERIFY(peer.configWatcher()->files().contains(SETTINGS_PATH));
        QCOMPARE(status(), QStringLiteral("ready"));

        QVERIFY(QDir(tree.path(LINK)).removeRecursively());
        QCOMPARE(daemon.enableUpgradeOnReboot(),
                 toInt(ArmLink::Created) + toInt(StampPart::Changed));
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::None));
    }

    void enableBeforeTheDownloadOnlyRecordsIt()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        peer.task() = int(CurrentTask::Downloading);
        QCOMPARE(daemon.enableUpgradeOnReboot(), toInt(ArmDeferred::UntilDownloaded));
        QVERIFY(peer.upgradeMustBeEnabled());
        QVERIFY(!QFileInfo(tree.path(LINK)).isSymLink());
        QVERIFY(tree.standInCalls(QStringLiteral("kirta-update-service")).isEmpty());
    }

    void disable_data()
    {
        QTest::addColumn<bool>("armedBefore");
        QTest::addColumn<bool>("directoryAtLink");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("armedAfter");
        // Nothing to disarm: no status written, no check timer restarted.
        QTest::addColumn<bool>("untouched");
        QTest::newRow("armed") << true << false
                               << toInt(DisarmLink::Removed) + toInt(StampPart::Changed) << false
                               << false;
        QTest::newRow("nothing armed")
                << false << false << toInt(DisarmLink::Absent) + toInt(StampPart::AlreadySo)
                << false << true;
        QTest::newRow("link cannot be removed: stays armed")
                << true << true << toInt(DisarmLink::RemoveFailed) + toInt(StampPart::Failed)
                << true << false;
        QTest::newRow("directory cannot be removed, nothing armed")
                << false << true << toInt(DisarmLink::RemoveFailed) + toInt(StampPart::AlreadySo)
                << false << false;
    }

    void disable()
    {
        QFETCH(bool, armedBefore);
        QFETCH(bool, directoryAtLink);
        QFETCH(int, code);
        QFETCH(bool, armedAfter);
        QFETCH(bool, untouched);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        makeReady(daemon);
        if (armedBefore)
            QCOMPARE(daemon.enableUpgradeOnReboot(),
                     toInt(ArmLink::Created) + toInt(StampPart::Changed));
        if (directoryAtLink) {
            QVERIFY(!armedBefore || QFile::remove(tree.path(LINK)));
            QVERIFY(tree.mkpath(LINK));
        }
        QCOMPARE(daemon.disableUpgradeOnReboot(), code);
        QCOMPARE(daemon.isUpgradeOnRebootEnabled(), armedAfter);
        QCOMPARE(status(), untouched    ? QString()
                           : armedAfter ? QStringLiteral("activated")
                                        : QStringLiteral("ready"));
        QCOMPARE(tree.exists(STAMP), armedAfter);
        QCOMPARE(peer.checkUpdatesTimer()->isActive(), !armedAfter && !untouched);
    }

    // A request whose work is done or under way, repeated by a caller as
    // often as it likes: the same answer each time, the hooks run once, and
    // the log gains at most one line per kind of request.
    void repeatedRequestsDoNothingAgain_data()
    {
        QTest::addColumn<QString>("request"); // arm, disarm, clear
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("answer");
        QTest::newRow("arm, armed")
                << "arm"
                << "armed" << toInt(ArmLink::Kept) + toInt(StampPart::AlreadySo);
        QTest::newRow("arm, first block under way")
                << "arm"
                << "first block" << toInt(ArmDeferred::FirstBlockStarted);
        QTest::newRow("arm, before the download")
                << "arm"
                << "downloading" << toInt(ArmDeferred::UntilDownloaded);
        QTest::newRow("disarm, nothing armed")
                << "disarm"
                << "ready" << toInt(DisarmLink::Absent) + toInt(StampPart::AlreadySo);
        QTest::newRow("clear, no stamp") << "clear"
                                         << "ready" << toInt(StampRemoval::Absent);
    }

    void repeatedRequestsDoNothingAgain()
    {
        QFETCH(QString, request);
        QFETCH(QString, situation);
        QFETCH(int, answer);
        const int repeats = 2000;
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        makeReady(daemon);
        if (situation == QLatin1String("armed"))
            QCOMPARE(daemon.enableUpgradeOnReboot(),
                     toInt(ArmLink::Created) + toInt(StampPart::Changed));
        if (situation == QLatin1String("downloading"))
            peer.task() = int(CurrentTask::Downloading);
        if (situation == QLatin1String("first block"))
            peer.firstBlockPassed() = false;
        const auto call = [&] {
            if (request == QLatin1String("arm"))
                return daemon.enableUpgradeOnReboot();
            if (request == QLatin1String("disarm"))
                return daemon.disableUpgradeOnReboot();
            return daemon.removeUpgradeResultStamp(toInt(ResultStamp::MinorSucceeded));
        };
        // The first request of a kind may do its work and log it.
        call();
        peer.checkUpdatesTimer()->stop();
        const QString logBefore = tree.readFile(LOG);
        const QStringList hooksBefore = tree.standInCalls(QStringLiteral("kirta-update-service"));
        for (int i = 0; i < repeats; ++i)
            QCOMPARE(call(), answer);
        const QString logAfter = tree.readFile(LOG);
        QVERIFY(logAfter.startsWith(logBefore));
        const QString grown = logAfter.mid(logBefore.size());
        QVERIFY2(grown.count(QLatin1Char('\n')) <= 1, qPrintable(grown.left(2000)));
        // Nobody can put the next check off by asking again.
        QVERIFY(!peer.checkUpdatesTimer()->isActive());
        if (situation != QLatin1String("first block")) {
            QCOMPARE(tree.standInCalls(QStringLiteral("kirta-update-service")), hooksBefore);
            return;
        }
        // The first block asked for by the first request runs once.
        const QString started = QStringLiteral("Trying to pass the first block...");
        KIRTA_WAIT_VERIFY(tree.readFile(LOG).contains(started), 5000);
        // It ends in the free-space check here (the stand-in says "not
        // enough") or in the imitation's result.
        KIRTA_WAIT_VERIFY(
                tree.readFile(LOG).contains(QStringLiteral("Free space checking failed"))
                        || tree.readFile(LOG).contains(QStringLiteral("imitation result:")),
                10000);
        QTest::qWait(100);
        QCOMPARE(tree.readFile(LOG).count(started), 1);
    }

    // A failed arm (error 5) is no error of the cycle: a later outside stop
    // still ends in the stop for a major release, and the next major-release
    // check resumes the minor updates.
    void failedArmDecidesNoStopOrResume_data()
    {
        QTest::addColumn<int>("stop");
        QTest::newRow("stop") << toInt(OutsideState::Stop);
        QTest::newRow("stop even when forced") << toInt(OutsideState::StopEvenForced);
    }

    void failedArmDecidesNoStopOrResume()
    {
        QFETCH(int, stop);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        makeReady(daemon);
        QVERIFY(tree.mkpath(LINK));
        QCOMPARE(daemon.enableUpgradeOnReboot(),
                 toInt(ArmLink::RemoveFailed) + toInt(StampPart::Changed));
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::ArmingFailed));

        QCOMPARE(daemon.setStateFromOutside(stop), toInt(OutsideAnswer::Done));
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::StoppedForMajor));
        QVERIFY(!peer.checkUpdatesTimer()->isActive());
        // No major-release report: minor updates go on.
        daemon.checkMajorReport();
        QCOMPARE(daemon.getCurrentStateAsInt(), toInt(StateNumber::NoUpdates));
        QVERIFY(peer.checkUpdatesTimer()->isActive());
        QCOMPARE(daemon.getCurrentErrorAsInt(), toInt(ErrorNumber::None));
    }

    void forcedUpgradeCannotBeDisarmed()
    {
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        makeReady(daemon);
        QCOMPARE(daemon.enableUpgradeOnReboot(),
                 toInt(ArmLink::Created) + toInt(StampPart::Changed));
        peer.forcedMode() = true;
        QCOMPARE(daemon.disableUpgradeOnReboot(), toInt(DisarmCheck::ForcedArmed));
        QVERIFY(QFileInfo(tree.path(LINK)).isSymLink());
        QCOMPARE(daemon.setStateFromOutside(toInt(OutsideState::StopEvenForced)),
                 toInt(OutsideAnswer::Done));
        QVERIFY(!QFileInfo(tree.path(LINK)).isSymLink());
    }

    void forcedMode_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<QString>("deadline"); // ahead, passed, unset
        QTest::addColumn<int>("taskAfter");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<int>("disableAnswer");
        const int waiting = toInt(CurrentTask::WaitingForDownload);
        const int downloading = toInt(CurrentTask::Downloading);
        const int completed = toInt(CurrentTask::DownloadCompleted);
        const int noUpdates = toInt(CurrentTask::WaitingForUpdates);
        const int stopped = toInt(CurrentTask::Stopped);
        QTest::newRow("waiting for the download: it starts")
                << waiting << "ahead" << downloading << false << 99;
        QTest::newRow("ready: armed, forced beats passed")
                << completed << "passed" << completed << true << 89;
        QTest::newRow("no updates: checked at once")
                << noUpdates << "unset" << noUpdates << false << 99;
        QTest::newRow("downloading: goes on")
                << downloading << "ahead" << downloading << false << 99;
        QTest::newRow("stopped: stays") << stopped << "unset" << stopped << false << 99;
    }

    // Forcing moves the deadline to now at the latest and pushes the cycle
    // one step where it waits.
    void forcedMode()
    {
        QFETCH(int, task);
        QFETCH(QString, deadline);
        QFETCH(int, taskAfter);
        QFETCH(bool, armed);
        QFETCH(int, disableAnswer);
        const QDateTime passed = QDateTime::fromString(
                QDateTime::currentDateTime().addDays(-1).toString(DATE_TIME_FORMAT),
                DATE_TIME_FORMAT);
        const QDateTime ahead = QDateTime::currentDateTime().addDays(2);
        if (deadline != QLatin1String("unset"))
            QVERIFY(tree.writeFile(CONFIG,
                                   "T_check=60\nT_end="
                                           + (deadline == QLatin1String("ahead") ? ahead : passed)
                                                     .toString(DATE_TIME_FORMAT)
                                           + "\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        makeReady(daemon);
        peer.task() = task;
        // Stamps are kept to the minute, as the file holds them.
        QDateTime before = QDateTime::currentDateTime();
        before.setTime(QTime(before.time().hour(), before.time().minute()));
        QCOMPARE(daemon.setForcedMode(), 0);
        const QDateTime after = QDateTime::currentDateTime();

        const QDateTime moved = peer.settings()->params().upgrade_time_stamp.second;
        if (deadline == QLatin1String("passed"))
            QCOMPARE(moved, passed);
        else
            QVERIFY2(moved >= before && moved <= after, qPrintable(moved.toString()));
        QCOMPARE(peer.task(), taskAfter);
        QCOMPARE(daemon.isUpgradeOnRebootEnabled(), armed);
        const QStringList stage = tree.standInCalls(QStringLiteral("kirta-update-service"));
        QCOMPARE(stage.contains(QStringLiteral("update 1")),
                 task == toInt(CurrentTask::WaitingForUpdates));
        QCOMPARE(daemon.isUpgradeCanBeDisabled(), disableAnswer);
        if (task == toInt(CurrentTask::WaitingForDownload)) {
            // The detached download must be over (gone, or a zombie left to
            // whoever reaps orphans) before the next tree.
            const qint64 pid = peer.download()->run().pid;
            QVERIFY(pid > 0);
            const auto over = [pid] {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
            };
            KIRTA_WAIT_VERIFY(over(), 10000);
        }
    }

    void disarmAfterEditResetsImitation_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::newRow("edited") << true;
        QTest::newRow("unchanged") << false;
    }

    void disarmAfterEditResetsImitation()
    {
        QFETCH(bool, edited);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        peer.task() = int(CurrentTask::DownloadCompleted);
        peer.firstBlockPassed() = true;
        QVERIFY(daemon.enableUpgradeOnReboot() >= 0);
        daemon.makeConfigCopy();
        QVERIFY(tree.exists(COPY));
        QVERIFY(!peer.configWatcher()->files().contains(SETTINGS_PATH));
        if (edited)
            QVERIFY(tree.writeFile(CONFIG, QStringLiteral("# kept\nT_check=30\n")));
        daemon.disableUpgradeOnReboot();
        QVERIFY(!tree.exists(COPY));
        QCOMPARE(peer.firstBlockPassed(), !edited);
        QVERIFY(peer.configWatcher()->files().contains(SETTINGS_PATH));
        QCOMPARE(peer.settings()->params().t_check.second, edited ? 30 : 60);
    }

    void restoreAfterReboot_data()
    {
        QTest::addColumn<QString>("config"); // empty: missing
        QTest::addColumn<QString>("parking"); // "", "file" or "link"
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("copyLeft");
        QTest::newRow("copy moved back") << "T_check=5\n"
                                         << ""
                                         << "T_check=60\n"
                                         << false;
        QTest::newRow("left-over parking file") << "T_check=5\n"
                                                << "file"
                                                << "T_check=5\n"
                                                << true;
        QTest::newRow("link at the parking place") << "T_check=5\n"
                                                   << "link"
                                                   << "T_check=5\n"
                                                   << true;
        QTest::newRow("configuration lost by a crash") << ""
                                                       << ""
                                                       << "T_check=60\n"
                                                       << false;
    }

    void restoreAfterReboot()
    {
        QFETCH(QString, config);
        QFETCH(QString, parking);
        QFETCH(QString, expected);
        QFETCH(bool, copyLeft);
        QVERIFY(tree.writeFile(COPY, QStringLiteral("T_check=60\n")));
        if (config.isEmpty())
            QVERIFY(QFile::remove(tree.path(CONFIG)));
        else
            QVERIFY(tree.writeFile(CONFIG, config));
        // A link prepared at the parking place, pointing where nothing is yet:
        // following it would create a file of root's choosing there.
        const QString victim = tree.path(QStringLiteral("/etc/victim"));
        if (parking == QLatin1String("file"))
            QVERIFY(tree.writeFile(PARKING, QByteArray("stale")));
        else if (parking == QLatin1String("link"))
            QVERIFY(QFile::link(victim, tree.path(PARKING)));
        QVERIFY(tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/successful"),
                               QByteArray()));
        // The offline upgrade's mark: this start is the one after it.
        QVERIFY(tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/upgrade_ran"),
                               QByteArray()));

        Daemon daemon;
        daemon.start();
        QCOMPARE(tree.readFile(CONFIG), expected);
        QCOMPARE(tree.exists(COPY), copyLeft);
        QVERIFY(!QFileInfo::exists(victim));
        if (parking.isEmpty())
            QVERIFY(!QFileInfo(tree.path(PARKING)).exists());
        QVERIFY(DaemonTestPeer(daemon).configWatcher()->files().contains(SETTINGS_PATH));
    }

    // Between file systems the move is a copy into a new file, then a delete.
    void moveAcrossFileSystems()
    {
        if (!QFileInfo(QStringLiteral("/dev/shm")).isDir())
            QSKIP("no /dev/shm to move to");
        QTemporaryDir other(QStringLiteral("/dev/shm/kirta-move-XXXXXX"));
        QVERIFY(other.isValid());
        const QString source = tree.path(QStringLiteral("/tmp/source.conf"));
        QVERIFY(tree.writeFile(QStringLiteral("/tmp/source.conf"), QByteArray("T_check=5\n")));
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner));

        QString error;
        const QString taken = other.filePath(QStringLiteral("taken"));
        QVERIFY(QFile::link(other.filePath(QStringLiteral("target")), taken));
        QVERIFY(!moveFileNoReplace(source, taken, &error));
        QVERIFY(!QFile::exists(other.filePath(QStringLiteral("target"))));
        QVERIFY(QFile::exists(source));

        const QString destination = other.filePath(QStringLiteral("moved.conf"));
        QVERIFY2(moveFileNoReplace(source, destination, &error), qPrintable(error));
        QVERIFY(!QFile::exists(source));
        QFile moved(destination);
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray("T_check=5\n"));
        QCOMPARE(moved.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestArming)
#include "tst_arming.moc"
