// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemontestpeer.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QtTest>

#include <cstdio>
#include <limits>

namespace {
const QString CONFIG = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");

QString stamp(const QDateTime &when)
{
    return when.toString(DATE_TIME_FORMAT);
}

// A whole-minute moment, as the file keeps them.
QDateTime minuteFromNow(qint64 secs)
{
    QDateTime when = QDateTime::currentDateTime().addSecs(secs);
    when.setTime(QTime(when.time().hour(), when.time().minute()));
    return when;
}
} // namespace

// Loading and reloading the configuration: timers, stamps, log level and the
// watch on the file.
class TestDaemonSettings : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    void writeConfig(const QString &text) { QVERIFY(tree.writeFile(CONFIG, text)); }

    // Replaces the file the way editors and `sed -i` do: a new file renamed
    // over the old one.
    void replaceConfig(const QString &text)
    {
        const QString temp = tree.path(CONFIG) + QStringLiteral(".new");
        QFile file(temp);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        QVERIFY(std::rename(QFile::encodeName(temp).constData(),
                            QFile::encodeName(tree.path(CONFIG)).constData())
                == 0);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.mkpath(APP_LOG_DIR.mid(tree.root().size())));
        QVERIFY(tree.mkpath(APP_CACHE_DIR.mid(tree.root().size())));
    }

    void startCreatesDirectories()
    {
        QVERIFY(tree.reset());
        writeConfig(QStringLiteral("T_check=5\n"));
        Daemon daemon;
        daemon.start();
        QVERIFY(QFileInfo(APP_LOG_DIR).isDir());
        QVERIFY(QFileInfo(APP_CACHE_DIR).isDir());
        QVERIFY(QFileInfo(SOURCES_DIR).isDir());
        QCOMPARE(DaemonTestPeer(daemon).checkUpdatesTimer()->interval(), 5 * 60000);
        QVERIFY(!DaemonTestPeer(daemon).checkUpdatesTimer()->isActive());
    }

    void startWithoutParentDirectoriesGoesOn()
    {
        QVERIFY(QDir(tree.path(QStringLiteral("/var"))).removeRecursively());
        writeConfig(QStringLiteral("T_check=5\n"));
        Daemon daemon;
        daemon.start();
        QVERIFY(!QFileInfo::exists(APP_CACHE_DIR));
        QVERIFY(DaemonTestPeer(daemon).configWatcher());
    }

    void stampTimersAtStart_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("deadlineTimer");
        QTest::addColumn<bool>("retryTimer");
        const QString ahead = stamp(minuteFromNow(7200));
        QTest::newRow("neither") << "T_check=5\n" << false << false;
        QTest::newRow("deadline") << "T_end=" + ahead + "\n" << true << false;
        QTest::newRow("retry") << "Retry_time_stamp=" + ahead + "\n" << false << true;
        QTest::newRow("both") << "T_end=" + ahead + "\nRetry_time_stamp=" + ahead + "\n"
                              << true << true;
        QTest::newRow("malformed deadline") << "T_end=soon\n" << false << false;
    }

    void stampTimersAtStart()
    {
        QFETCH(QString, config);
        QFETCH(bool, deadlineTimer);
        QFETCH(bool, retryTimer);
        writeConfig(QStringLiteral("T_end_check=3\n") + config);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(peer.checkTEndTimer() && peer.checkTEndTimer()->isActive(), deadlineTimer);
        QCOMPARE(peer.checkRetryTimeStampTimer() && peer.checkRetryTimeStampTimer()->isActive(),
                 retryTimer);
        if (deadlineTimer)
            QCOMPARE(peer.checkTEndTimer()->interval(), 3 * 60000);
    }

    // A reload, e.g. after the daemon wrote the deadline itself, must not stop
    // the timer that arms the upgrade once the deadline passes; nor may an
    // edit revive the timers a stop has halted.
    void stampTimersFollowReloads()
    {
        QVERIFY(tree.installDaemonStandIns());
        const QString ahead = stamp(minuteFromNow(7200));
        const QString stamps = "T_end=" + ahead + "\nRetry_time_stamp=" + ahead + "\n";
        writeConfig(stamps);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        const auto running = [&peer] {
            return QPair<bool, bool>(peer.checkTEndTimer() && peer.checkTEndTimer()->isActive(),
                                     peer.checkRetryTimeStampTimer()
                                             && peer.checkRetryTimeStampTimer()->isActive());
        };
        daemon.loadSettings(false);
        for (int round = 0; round < 3; ++round) {
            daemon.loadSettings(true);
            QCOMPARE(running(), qMakePair(true, true));
        }
        writeConfig(QStringLiteral("T_check=5\n"));
        daemon.loadSettings(true);
        QCOMPARE(running(), qMakePair(false, false));
        writeConfig(stamps);
        daemon.loadSettings(true);
        QCOMPARE(running(), qMakePair(true, true));

        QCOMPARE(daemon.setStateFromOutside(3), 0);
        QCOMPARE(running(), qMakePair(false, false));
        writeConfig(stamps + "T_check=7\n");
        daemon.loadSettings(true);
        QCOMPARE(running(), qMakePair(false, false));

        // The next completed download runs the kept deadline's timer again.
        QVERIFY(tree.installStandIn(QStringLiteral("/usr/bin/apt-cache")));
        peer.task() = int(CurrentTask::WaitingForDownload);
        QCOMPARE(daemon.downloadUpdatesByScript(), 0);
        KIRTA_WAIT_VERIFY(peer.task() == int(CurrentTask::DownloadCompleted), 15000);
        QCOMPARE(running(), qMakePair(true, false));
    }

    void intervalChangesMoveStamps_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<qint64>("retryShiftSecs");
        QTest::addColumn<qint64>("deadlineShiftSecs");
        QTest::newRow("retry 2h -> 5h") << "T_retry=2\nT_delay=3\n"
                                        << "T_retry=5\nT_delay=3\n"
                                        << qint64(3 * 3600) << qint64(0);
        QTest::newRow("retry 5h -> 1h") << "T_retry=5\n"
                                        << "T_retry=1\n"
                                        << qint64(-4 * 3600) << qint64(0);
        QTest::newRow("delay 3d -> 1d") << "T_delay=3\n"
                                        << "T_delay=1\n"
                                        << qint64(0) << qint64(-2 * 86400);
        QTest::newRow("nothing changed") << "T_delay=3\nT_retry=2\n"
                                         << "T_delay=3\nT_retry=2\n"
                                         << qint64(0) << qint64(0);
    }

    void intervalChangesMoveStamps()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(qint64, retryShiftSecs);
        QFETCH(qint64, deadlineShiftSecs);
        const QDateTime retry = minuteFromNow(3600);
        const QDateTime deadline = minuteFromNow(5 * 86400);
        const QString stamps
                = "T_end=" + stamp(deadline) + "\nRetry_time_stamp=" + stamp(retry) + "\n";
        writeConfig(before + stamps);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        writeConfig(after + stamps);
        daemon.loadSettings(true);

        const Params params = peer.settings()->params();
        QCOMPARE(params.retry_time_stamp.second, retry.addSecs(retryShiftSecs));
        QCOMPARE(params.upgrade_time_stamp.second, deadline.addSecs(deadlineShiftSecs));
        // The moved stamps are what the file holds now.
        SettingsController reread(SETTINGS_PATH);
        reread.load();
        QCOMPARE(reread.params().retry_time_stamp.second, params.retry_time_stamp.second);
        QCOMPARE(reread.params().upgrade_time_stamp.second, params.upgrade_time_stamp.second);
    }

    void unsetStampsDoNotMove()
    {
        writeConfig(QStringLiteral("T_retry=2\nT_delay=3\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        writeConfig(QStringLiteral("T_retry=6\nT_delay=9\n"));
        daemon.loadSettings(true);
        QVERIFY(!peer.settings()->params().retry_time_stamp.first);
        QVERIFY(!peer.settings()->params().upgrade_time_stamp.first);
        QVERIFY(!tree.readFile(CONFIG).contains(QStringLiteral("T_end")));
    }

    void checkPeriodFollowsReload()
    {
        writeConfig(QStringLiteral("T_check=5\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        peer.checkUpdatesTimer()->start();
        writeConfig(QStringLiteral("T_check=7\n"));
        daemon.loadSettings(true);
        QCOMPARE(peer.checkUpdatesTimer()->interval(), 7 * 60000);
        QVERIFY(peer.checkUpdatesTimer()->isActive());
    }

    // Each duration key in its own unit, read off what it sets, at the first
    // load or after a reload: a unit taken for another (hours for minutes)
    // is off by a factor.
    void durationsKeepTheirUnits_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("reloaded"); // empty: no reload
        QTest::addColumn<QString>("what");
        QTest::addColumn<qint64>("secs");
        const QString ahead = "T_end=" + stamp(minuteFromNow(7200)) + "\n";
        QTest::newRow("download delay") << "T_download_min=7\nT_download_max=7\n"
                                        << QString() << "download delay" << qint64(7 * 60);
        QTest::newRow("download delay reloaded") << "T_download_min=7\nT_download_max=7\n"
                                                 << "T_download_min=9\nT_download_max=9\n"
                                                 << "download delay" << qint64(9 * 60);
        QTest::newRow("deadline watch reloaded")
                << "T_end_check=3\n" + ahead << "T_end_check=8\n" + ahead << "deadline watch"
                << qint64(8 * 60);
        QTest::newRow("retry stamp") << "T_retry=5\nT_end_check=4\n"
                                     << QString() << "retry stamp" << qint64(5 * 3600);
        QTest::newRow("retry watch") << "T_retry=5\nT_end_check=4\n"
                                     << QString() << "retry watch" << qint64(4 * 60);
    }

    void durationsKeepTheirUnits()
    {
        QFETCH(QString, config);
        QFETCH(QString, reloaded);
        QFETCH(QString, what);
        QFETCH(qint64, secs);
        writeConfig(config);
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        const QDateTime before = QDateTime::currentDateTime();
        if (what == QLatin1String("download delay"))
            daemon.startDownloadTimer();
        else if (what.startsWith(QLatin1String("retry")))
            daemon.doRetryAction();
        const QDateTime after = QDateTime::currentDateTime();
        if (!reloaded.isEmpty()) {
            writeConfig(reloaded);
            daemon.loadSettings(true);
        }

        if (what == QLatin1String("retry stamp")) {
            // What the file holds, to the minute.
            SettingsController reread(SETTINGS_PATH);
            reread.load();
            const QDateTime retry = reread.params().retry_time_stamp.second;
            QVERIFY(retry.isValid());
            QVERIFY2(retry > before.addSecs(secs - 60) && retry <= after.addSecs(secs),
                     qPrintable(stamp(retry)));
            return;
        }
        QTimer *timer = what == QLatin1String("download delay")   ? peer.downloadUpdatesTimer()
                        : what == QLatin1String("deadline watch") ? peer.checkTEndTimer()
                                                                  : peer.checkRetryTimeStampTimer();
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QCOMPARE(qint64(timer->interval()), secs * 1000);
        if (what == QLatin1String("download delay")) {
            // The log line says the delay in minutes.
            const QString log
                    = tree.readFile(QStringLiteral("/var/log/kirta-update-service/service.log"));
            QVERIFY(log.contains(
                    QStringLiteral("Generated value for download delay, minutes = %1\n")
                            .arg(secs / 60)));
        }
    }

    void minutesToMsec_data()
    {
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<int>("msec");
        QTest::addColumn<bool>("clamped");
        QTest::newRow("zero") << qint64(0) << 0 << false;
        QTest::newRow("an hour") << qint64(60) << 3600000 << false;
        QTest::newRow("largest that fits") << qint64(35791) << 2147460000 << false;
        QTest::newRow("first that overflows 32 bits")
                << qint64(35792) << std::numeric_limits<int>::max() << true;
        QTest::newRow("int max minutes") << qint64(std::numeric_limits<int>::max())
                                         << std::numeric_limits<int>::max() << true;
        QTest::newRow("negative") << qint64(-5) << 0 << true;
        // Counts whose milliseconds would wrap a 64-bit product.
        QTest::newRow("beyond what milliseconds hold")
                << std::numeric_limits<qint64>::max() << std::numeric_limits<int>::max() << true;
        QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << 0 << true;
    }

    void minutesToMsec()
    {
        QFETCH(qint64, minutes);
        QFETCH(int, msec);
        QFETCH(bool, clamped);
        bool wasClamped = !clamped;
        QCOMPARE(CycleClock::minutesToMsec(std::chrono::minutes(minutes), &wasClamped), msec);
        QCOMPARE(wasClamped, clamped);
    }

    // Check periods stay between a minute (0 must not check in a tight loop)
    // and the longest a timer holds, with a warning.
    void checkPeriodsAreBoundedWithWarning_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("deadlineTimer");
        QTest::addColumn<int>("msec");
        QTest::addColumn<QString>("warning");
        QTest::newRow("huge") << "T_check=100000\n"
                              << false << std::numeric_limits<int>::max()
                              << "T_check = 100000 minutes does not fit a timer";
        QTest::newRow("zero") << "T_check=0\n"
                              << false << 60000
                              << "T_check = 0 minutes is below the minimum, using 1";
        QTest::newRow("deadline checks zero")
                << "T_end_check=0\nT_end=10:00 01.01.2099\n"
                << true << 60000 << "T_end_check = 0 minutes is below the minimum, using 1";
    }

    void checkPeriodsAreBoundedWithWarning()
    {
        QFETCH(QString, config);
        QFETCH(bool, deadlineTimer);
        QFETCH(int, msec);
        QFETCH(QString, warning);
        writeConfig(config);
        Daemon daemon;
        daemon.start();
        DaemonTestPeer peer(daemon);
        QTimer *timer = deadlineTimer ? peer.checkTEndTimer() : peer.checkUpdatesTimer();
        QVERIFY(timer);
        QCOMPARE(timer->interval(), msec);
        QVERIFY(tree.readFile(QStringLiteral("/var/log/kirta-update-service/service.log"))
                        .contains(warning));
    }

    void downloadDelay_data()
    {
        QTest::addColumn<qint64>("minDelay");
        QTest::addColumn<qint64>("maxDelay");
        QTest::addColumn<quint32>("randomWord");
        QTest::addColumn<qint64>("delay");
        constexpr qint64 intMin = std::numeric_limits<int>::min();
        constexpr qint64 intMax = std::numeric_limits<int>::max();
        constexpr qint64 longMin = std::numeric_limits<qint64>::min();
        constexpr qint64 longMax = std::numeric_limits<qint64>::max();
        QTest::newRow("lowest draw") << qint64(30) << qint64(90) << quint32(0) << qint64(30);
        QTest::newRow("highest draw stays below max")
                << qint64(30) << qint64(90) << quint32(0xffffffff) << qint64(89);
        QTest::newRow("middle") << qint64(30) << qint64(90) << quint32(0x80000000) << qint64(60);
        QTest::newRow("equal bounds") << qint64(45) << qint64(45) << quint32(12345) << qint64(45);
        QTest::newRow("reversed bounds take the upper")
                << qint64(90) << qint64(30) << quint32(12345) << qint64(30);
        QTest::newRow("widest span of the keys")
                << intMin << intMax << quint32(0xffffffff) << intMax - 1;
        // Minutes are 64 bits wide: a span past 32 bits must not wrap the
        // product with the random word.
        QTest::newRow("span past 32 bits")
                << qint64(0) << (qint64(1) << 40) << quint32(0x80000000) << (qint64(1) << 39);
        QTest::newRow("widest span, middle")
                << longMin << longMax << quint32(0x80000000) << qint64(-1);
        QTest::newRow("widest span, highest draw")
                << longMin << longMax << quint32(0xffffffff) << longMax - (qint64(1) << 32);
    }

    void downloadDelay()
    {
        QFETCH(qint64, minDelay);
        QFETCH(qint64, maxDelay);
        QFETCH(quint32, randomWord);
        QFETCH(qint64, delay);
        QCOMPARE(CycleClock::downloadDelayMinutes(std::chrono::minutes(minDelay),
                                                  std::chrono::minutes(maxDelay), randomWord)
                         .count(),
                 std::chrono::minutes::rep(delay));
    }

    void logLevelFollowsEveryLoad()
    {
        writeConfig(QStringLiteral("Log_level=Error\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(peer.logger().level(), Logger::Error);
        writeConfig(QStringLiteral("T_check=5\n"));
        daemon.loadSettings(true);
        QCOMPARE(peer.logger().level(), Logger::Debug);
    }

    void reloadInvalidatesPassedImitation()
    {
        writeConfig(QStringLiteral("T_check=5\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        peer.firstBlockPassed() = true;
        daemon.reloadSettings();
        QVERIFY(!peer.firstBlockPassed());
        QVERIFY(tree.readFile(QStringLiteral("/var/log/kirta-update-service/service.log"))
                        .contains(QStringLiteral("Config has changed, need to imitate again")));
    }

    void snapshotStampFollowsSetting()
    {
        writeConfig(QStringLiteral("Snapshot=true\n"));
        Daemon daemon;
        daemon.loadSettings(false);
        QVERIFY(QFile::exists(SNAPSHOT_STAMP_PATH));
        writeConfig(QStringLiteral("Snapshot=false\n"));
        daemon.loadSettings(true);
        QVERIFY(!QFile::exists(SNAPSHOT_STAMP_PATH));
    }

    // Editors replace the file by a rename; each such edit must still be seen.
    void replacedConfigStaysWatched()
    {
        writeConfig(QStringLiteral("# administrator's note\nT_check=5\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        for (int minutes : {7, 9, 11}) {
            replaceConfig(QStringLiteral("# administrator's note\nT_check=%1\n").arg(minutes));
            KIRTA_WAIT_VERIFY(peer.settings()->params().t_check.second == minutes, 5000);
            QVERIFY(peer.configWatcher()->files().contains(SETTINGS_PATH));
        }
        QCOMPARE(peer.checkUpdatesTimer()->interval(), 11 * 60000);
        QVERIFY(tree.readFile(CONFIG).startsWith(QStringLiteral("# administrator's note\n")));
    }

    void frozenConfigIsNotWatchedAgain()
    {
        writeConfig(QStringLiteral("T_check=5\n"));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.start();
        QVERIFY(QFile::copy(SETTINGS_PATH, SETTINGS_COPY_PATH));
        peer.configWatcher()->removePath(SETTINGS_PATH);
        daemon.reloadSettings();
        QVERIFY(!peer.configWatcher()->files().contains(SETTINGS_PATH));
    }
};

QTEST_GUILESS_MAIN(TestDaemonSettings)
#include "tst_daemonsettings.moc"
