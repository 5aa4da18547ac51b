// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "privatebus.h"
#include "statusstandin.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

// kirta-update-ctl runs as a child on the test's private bus against a
// stand-in of the daemon's object that lives in this process and answers
// while the test waits for the child with events flowing.

namespace {
const int RUN_MS = 30000;
const int REHEARSAL_MS = 500;

struct Run
{
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

QStringList lines(const QByteArray &text)
{
    QStringList all = QString::fromUtf8(text).split(QLatin1Char('\n'));
    if (!all.isEmpty() && all.last().isEmpty())
        all.removeLast();
    return all;
}

QString utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                   .toString(QStringLiteral("yyyy-MM-dd hh:mm"))
           + QStringLiteral(" UTC");
}
} // namespace

class TestUpdateCtl : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    StatusStandIn *daemon = nullptr;

    Run ctl(const QStringList &arguments)
    {
        QProcess process;
        startUpdateCtl(process, arguments);
        Run run;
        if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, RUN_MS)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.out = lines(process.readAllStandardOutput());
        run.err = lines(process.readAllStandardError());
        return run;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.errorString()));
        daemon = new StatusStandIn(this);
        QVERIFY(daemon->publish(
                QDBusConnection::connectToBus(bus.address(), QStringLiteral("standin"))));
    }

    void init()
    {
        daemon->calls.clear();
        daemon->onEnable = nullptr;
        daemon->reset();
        daemon->set({{QStringLiteral("State"), 4},
                     {QStringLiteral("StateName"), QStringLiteral("ready")},
                     {QStringLiteral("TargetRelease"), QStringLiteral("12.4")},
                     {QStringLiteral("Packages"), QStringList {"hello-kirta", "kirta-version"}}});
    }

    void status_data()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 deadline = now + 2 * 86400 + 3600;
        const qint64 checked = now - 5 * 60 - 10;
        QTest::addColumn<QVariantMap>("properties");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ready, deadline ahead")
                << QVariantMap {{"Deadline", deadline}, {"LastCheck", checked}}
                << QStringList {
                           "State:       ready (downloaded, not armed)",
                           "Error:       none",
                           "Release:     12.4",
                           "Deadline:    " + utc(deadline) + " (in 2 days)",
                           "Armed:       no",
                           "Forced:      no",
                           "Packages:    2",
                           "Last check:  " + utc(checked) + " (5 minutes ago)",
                           "Last result: none",
                           "Health:      not checked (no upgrade boot since the daemon started)",
                           "Restart:     none planned",
                           "Next:        Release 12.4 is armed at the deadline, or now with "
                           "\"kirta-update-ctl arm\"."};
        QTest::newRow("armed in forced mode")
                << QVariantMap {{"State", 6},
                                {"StateName", "forced"},
                                {"Armed", true},
                                {"Forced", true},
                                {"Deadline", now - 7200},
                                {"RestartPlanned", now + 930},
                                {"RestartBlocker", "users logged in, announced for 02:15"}}
                << QStringList {
                           "State:       forced (armed for the next restart by the deadline "
                           "or forced mode)",
                           "Error:       none",
                           "Release:     12.4",
                           "Deadline:    " + utc(now - 7200) + " (2 hours ago)",
                           "Armed:       yes",
                           "Forced:      yes",
                           "Packages:    2",
                           "Last check:  none since the daemon started",
                           "Last result: none",
                           "Health:      not checked (no upgrade boot since the daemon started)",
                           "Restart:     " + utc(now + 930)
                                   + " (in 15 minutes); users logged in, announced for 02:15",
                           "Next:        Release 12.4 is installed at the next restart; "
                           "forced mode keeps it armed."};
        QTest::newRow("unhealthy, held, postponed for power")
                << QVariantMap {{"State", 5},
                                {"StateName", "activated"},
                                {"Armed", true},
                                {"Deadline", now + 2 * 86400 + 30},
                                {"Health", "unhealthy"},
                                {"HealthReasons", QStringList {"unit web.service failed",
                                                               "check 10-site failed with code 3"}},
                                {"DownloadHeld", "metered connection"},
                                {"PostponedForPower", "battery BAT0 at 12 %"}}
                << QStringList {"State:       activated (armed for the next restart)",
                                "Error:       none",
                                "Release:     12.4",
                                "Deadline:    " + utc(now + 2 * 86400 + 30) + " (in 2 days)",
                                "Armed:       yes",
                                "Forced:      no",
                                "Packages:    2",
                                "Last check:  none since the daemon started",
                                "Last result: none",
                                "Health:      unhealthy: unit web.service failed; check 10-site "
                                "failed with code 3",
                                "Held:        no download starts: metered connection",
                                "Postponed:   the last restart did not install for lack of power "
                                "(battery BAT0 at 12 %); connect the power before the next "
                                "restart",
                                "Restart:     none planned",
                                "Next:        Release 12.4 is installed at the next restart; "
                                "\"kirta-update-ctl disarm\" postpones it."};
        // The slot outlives the restart; the group waits for this machine.
        QTest::newRow("fleet lock kept after an unhealthy upgrade boot")
                << QVariantMap {{"LastResult", "successful"},
                                {"Health", "unhealthy"},
                                {"HealthReasons", QStringList {"unit web.service failed"}},
                                {"RebootLockHeld", true},
                                {"RebootLockSince", checked - 3 * 3600},
                                {"RebootLockText",
                                 "kept: the system is unhealthy after the upgrade (unit "
                                 "web.service failed); kirta-update-ctl release-lock gives it "
                                 "back"}}
                << QStringList {"State:       ready (downloaded, not armed)",
                                "Error:       none",
                                "Release:     12.4",
                                "Deadline:    not set",
                                "Armed:       no",
                                "Forced:      no",
                                "Packages:    2",
                                "Last check:  none since the daemon started",
                                "Last result: successful",
                                "Health:      unhealthy: unit web.service failed",
                                "Restart:     none planned",
                                "Fleet lock:  slot held since " + utc(checked - 3 * 3600)
                                        + " (3 hours ago); kept: the system is unhealthy after "
                                          "the upgrade (unit web.service failed); "
                                          "kirta-update-ctl release-lock gives it back",
                                "Next:        \"kirta-update-ctl arm\" arms release 12.4 for the "
                                "next restart."};
        // Waiting for a slot is the restart's business; no slot, no line.
        QTest::newRow("waiting for the fleet lock")
                << QVariantMap {{"State", 5},
                                {"StateName", "activated"},
                                {"Armed", true},
                                {"RestartPlanned", qint64(0)},
                                {"RestartBlocker", "waiting for the fleet lock (web: 2 of 2 "
                                                   "slots held)"}}
                << QStringList {"State:       activated (armed for the next restart)",
                                "Error:       none",
                                "Release:     12.4",
                                "Deadline:    not set",
                                "Armed:       yes",
                                "Forced:      no",
                                "Packages:    2",
                                "Last check:  none since the daemon started",
                                "Last result: none",
                                "Health:      not checked (no upgrade boot since the daemon "
                                "started)",
                                "Restart:     waiting for the fleet lock (web: 2 of 2 slots held)",
                                "Next:        Release 12.4 is installed at the next restart; "
                                "\"kirta-update-ctl disarm\" postpones it."};
        QTest::newRow("stopped after a failed rehearsal")
                << QVariantMap {{"State", -2},
                                {"StateName", "stopped"},
                                {"Error", 2},
                                {"TargetRelease", ""},
                                {"Packages", QStringList()},
                                {"LastResult", "unsuccessful"}}
                << QStringList {
                           "State:       stopped (stopped after an error)",
                           "Error:       the rehearsal of the upgrade failed",
                           "Release:     none",
                           "Deadline:    not set",
                           "Armed:       no",
                           "Forced:      no",
                           "Packages:    0",
                           "Last check:  none since the daemon started",
                           "Last result: unsuccessful",
                           "Health:      not checked (no upgrade boot since the daemon started)",
                           "Restart:     none planned",
                           "Next:        Updates are stopped because the rehearsal of the "
                           "upgrade failed; the configured error action decides when they "
                           "resume."};
    }

    void status()
    {
        QFETCH(QVariantMap, properties);
        QFETCH(QStringList, expected);
        daemon->set(properties);
        const Run run = ctl({"status"});
        QCOMPARE(run.err, QStringList());
        QCOMPARE(run.out, expected);
        QCOMPARE(run.exitCode, 0);
    }

    void statusJson()
    {
        daemon->set({{"Deadline", qint64(1765377000)},
                     {"LastCheck", qint64(1765170000)},
                     {"RestartPlanned", qint64(1765400000)},
                     {"RestartBlocker", "inhibited by backup: copying"},
                     {"RebootLockHeld", true},
                     {"RebootLockSince", qint64(1765300000)},
                     {"RebootLockText", "held for the planned restart"}});
        const Run run = ctl({"status", "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject expected {{"state", 4},
                                    {"state_name", "ready"},
                                    {"error", -1},
                                    {"target_release", "12.4"},
                                    {"deadline", 1765377000},
                                    {"forced", false},
                                    {"armed", false},
                                    {"packages", QJsonArray {"hello-kirta", "kirta-version"}},
                                    {"last_check", 1765170000},
                                    {"last_result", "none"},
                                    {"health", "none"},
                                    {"health_reasons", QJsonArray()},
                                    {"health_checked", 0},
                                    {"download_held", ""},
                                    {"postponed_for_power", ""},
                                    {"restart_planned", 1765400000},
                                    {"restart_blocker", "inhibited by backup: copying"},
                                    {"reboot_lock_held", true},
                                    {"reboot_lock_since", 1765300000},
                                    {"reboot_lock_text", "held for the planned restart"}};
        QCOMPARE(QJsonDocument::fromJson(run.out.join('\n').toUtf8()).object(), expected);
    }

    void arm_data()
    {
        QTest::addColumn<QVariantMap>("before");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QVariantList>("changes");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QStringList>("err");
        const QVariantMap armed {{"State", 5}, {"StateName", "activated"}, {"Armed", true}};
        const QString rehearsing = "Checking free space and rehearsing the upgrade...";
        QTest::newRow("armed at once")
                << QVariantMap() << 0 << QVariantList() << QStringList() << 0
                << QStringList {"Armed: the update is installed at the next restart (link "
                                "/system-update created, stamp created)."}
                << QStringList();
        QTest::newRow("download not complete")
                << QVariantMap() << -10 << QVariantList() << QStringList() << 1 << QStringList()
                << QStringList {"kirta-update-ctl: not armed (-10): the packages are not "
                                "downloaded yet; the daemon arms the update as soon as the "
                                "download completes."};
        QTest::newRow("link not created")
                << QVariantMap() << 5 << QVariantList() << QStringList() << 1 << QStringList()
                << QStringList {"kirta-update-ctl: not armed (5): the link /system-update could "
                                "not be created, stamp created."};
        QTest::newRow("rehearsal passes after an earlier failure")
                << QVariantMap {{"Error", 2}} << -5
                << QVariantList {QVariantMap {{"Error", -1}}, armed} << QStringList() << 0
                << QStringList {rehearsing, "Armed: release 12.4 is installed at the next restart."}
                << QStringList();
        QTest::newRow("free-space check fails")
                << QVariantMap() << -5
                << QVariantList {QVariantMap {
                           {"State", -2}, {"StateName", "stopped"}, {"Error", 1}}}
                << QStringList() << 1 << QStringList {rehearsing}
                << QStringList {"kirta-update-ctl: not armed: the free-space check failed."};
        // The daemon stays "ready" and says why in Error.
        QTest::newRow("link not made after the rehearsal")
                << QVariantMap() << -5 << QVariantList {QVariantMap {{"Error", 5}}} << QStringList()
                << 1 << QStringList {rehearsing}
                << QStringList {"kirta-update-ctl: not armed: the link /system-update could not "
                                "be made."};
        QTest::newRow("rehearsal fails, cycle reset")
                << QVariantMap() << -5
                << QVariantList {QVariantMap {{"State", 1}, {"StateName", "no-updates"}}}
                << QStringList() << 1 << QStringList {rehearsing}
                << QStringList {"kirta-update-ctl: not armed: the daemon is now no-updates (up "
                                "to date), error: none."};
        QTest::newRow("not armed in time")
                << QVariantMap() << -5 << QVariantList() << QStringList {"--timeout", "1"} << 1
                << QStringList {rehearsing}
                << QStringList {"kirta-update-ctl: not armed: not armed within 1 s; the rehearsal "
                                "may still be running (see \"kirta-update-ctl status\")."};
    }

    void arm()
    {
        QFETCH(QVariantMap, before);
        QFETCH(int, answer);
        QFETCH(QVariantList, changes);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, out);
        QFETCH(QStringList, err);
        daemon->set(before);
        daemon->enableAnswer = answer;
        // The rehearsal takes its time: the command has read the status
        // before the first change comes. A change still due when the row
        // ends is dropped with `row`.
        QObject row;
        daemon->onEnable = [this, &row, changes] {
            QTimer::singleShot(REHEARSAL_MS, &row, [this, changes] {
                for (const QVariant &change : changes)
                    daemon->change(change.toMap());
            });
        };
        const Run run = ctl(QStringList {"arm"} + options);
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, err);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(daemon->calls, QStringList {"enableUpgradeOnReboot"});
    }

    void disarm_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("disarmed") << 0 << 0
                                  << "Disarmed: the update is not installed at the next restart.";
        QTest::newRow("nothing armed") << 11 << 0 << "Nothing was armed.";
        QTest::newRow("forced") << 89 << 1
                                << "kirta-update-ctl: not disarmed (89): forced mode is on; the "
                                   "armed upgrade cannot be disarmed.";
        QTest::newRow("link stays") << 2 << 1
                                    << "kirta-update-ctl: not disarmed (2): the link "
                                       "/system-update could not be removed, so the upgrade stays "
                                       "armed, stamp removed.";
    }

    void disarm()
    {
        QFETCH(int, answer);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        daemon->disableAnswer = answer;
        const Run run = ctl({"disarm"});
        QCOMPARE(exitCode == 0 ? run.out : run.err, QStringList {line});
        QCOMPARE(run.exitCode, exitCode);
    }

    void restartCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("postponed") << "postpone-restart" << 0 << 0
                                   << "Postponed: the automatic restart waits for the next "
                                      "maintenance window.";
        QTest::newRow("nothing to postpone")
                << "postpone-restart" << 1 << 0 << "No automatic restart is planned.";
        QTest::newRow("past the deadline")
                << "postpone-restart" << 2 << 1
                << "kirta-update-ctl: not postponed: the deadline has passed; only root may "
                   "postpone the restart now.";
        QTest::newRow("cancelled") << "cancel-restart" << 0 << 0
                                   << "Cancelled: no automatic restart until the update is armed "
                                      "again.";
        QTest::newRow("nothing to cancel")
                << "cancel-restart" << 1 << 0 << "No automatic restart is planned.";
        QTest::newRow("slot given back")
                << "release-lock" << 0 << 0
                << "Giving the reboot lock's slot back; status shows when it is done.";
        QTest::newRow("no slot held") << "release-lock" << 1 << 0 << "No reboot lock slot is held.";
        QTest::newRow("no lock to give it to")
                << "release-lock" << 2 << 1
                << "kirta-update-ctl: a slot is held but no usable reboot lock is configured to "
                   "give it back to.";
    }

    void restartCommands()
    {
        QFETCH(QString, command);
        QFETCH(int, answer);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        daemon->postponeAnswer = answer;
        daemon->cancelAnswer = answer;
        daemon->releaseLockAnswer = answer;
        const Run run = ctl({command});
        QCOMPARE(exitCode == 0 ? run.out : run.err, QStringList {line});
        QCOMPARE(run.exitCode, exitCode);
        const QHash<QString, QString> methods {{"cancel-restart", "cancelRestart"},
                                               {"postpone-restart", "postponeRestart"},
                                               {"release-lock", "releaseRebootLock"}};
        QCOMPARE(daemon->calls, QStringList {methods.value(command)});
    }

    void clearResult_data()
    {
        QTest::addColumn<int>("failedAnswer");
        QTest::addColumn<int>("successfulAnswer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("calls");
        // The failure last: when both are there it is the one shown.
        const QStringList both {"removeUpgradeResultStamp 1", "removeUpgradeResultStamp 0"};
        QTest::newRow("success removed")
                << 1 << 0 << 0 << "Cleared the result of the last offline upgrade." << both;
        QTest::newRow("nothing there") << 1 << 1 << 0 << "No result to clear." << both;
        QTest::newRow("not removable")
                << 2 << 1 << 1
                << "kirta-update-ctl: the \"unsuccessful\" result could not be removed (2)."
                << both;
    }

    void clearResult()
    {
        QFETCH(int, failedAnswer);
        QFETCH(int, successfulAnswer);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        QFETCH(QStringList, calls);
        daemon->stampAnswers = {{0, failedAnswer}, {1, successfulAnswer}};
        const Run run = ctl({"clear-result"});
        QCOMPARE(exitCode == 0 ? run.out : run.err, QStringList {line});
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(daemon->calls, calls);
    }

    // Each change once, in the order it happens; nothing for a signal that
    // changes nothing; the daemon's leaving and coming back.
    void watch()
    {
        QProcess process;
        startUpdateCtl(process, {"watch"});
        QStringList seen;
        auto collect = [&](int count) {
            return waitUntil(
                    [&] {
                        while (process.canReadLine())
                            seen << QString::fromUtf8(process.readLine()).chopped(1);
                        return seen.size() >= count;
                    },
                    RUN_MS);
        };
        QVERIFY(collect(19));
        QCOMPARE(seen.at(0).mid(9), "State: ready (downloaded, not armed)");
        daemon->change({{"LastCheck", qint64(0)}, {"Armed", false}});
        daemon->change({{"State", 5}, {"StateName", "activated"}, {"Armed", true}});
        QVERIFY(collect(21));
        daemon->withdraw();
        QVERIFY(collect(22));
        QVERIFY(daemon->publish(QDBusConnection::connectToBus(bus.address(), "standin")));
        QVERIFY(collect(23));
        // Moved within its minute: nothing to print.
        const qint64 deadline = QDateTime::currentSecsSinceEpoch() / 60 * 60 + 86400;
        daemon->change({{"Deadline", deadline}});
        daemon->change({{"Deadline", deadline + 30}});
        daemon->change({{"Packages", QStringList {"hello-kirta"}}});
        QVERIFY(collect(25));
        process.kill();
        process.waitForFinished();

        const QRegularExpression clock("^\\d\\d:\\d\\d:\\d\\d ");
        for (const QString &line : seen)
            QVERIFY2(clock.match(line).hasMatch(), qPrintable(line));
        QStringList changes;
        for (const QString &line : seen.mid(19))
            changes << line.mid(9);
        QCOMPARE(changes,
                 (QStringList {"State: activated (armed for the next restart)", "Armed: yes",
                               "The daemon left the bus", "The daemon is back on the bus",
                               "Deadline: " + utc(deadline), "Packages: 1 (hello-kirta)"}));
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList {"help"} << 0;
        QTest::newRow("no command") << QStringList() << 2;
        QTest::newRow("unknown command") << QStringList {"frobnicate"} << 2;
        QTest::newRow("status option") << QStringList {"status", "--yaml"} << 2;
        QTest::newRow("arm time-out") << QStringList {"arm", "--timeout", "soon"} << 2;
        QTest::newRow("disarm argument") << QStringList {"disarm", "now"} << 2;
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const Run run = ctl(arguments);
        QCOMPARE(run.exitCode, exitCode);
        const QStringList &text = exitCode == 0 ? run.out : run.err;
        QVERIFY2(text.contains("Usage: kirta-update-ctl COMMAND [OPTION]"),
                 qPrintable(text.join('\n')));
        QVERIFY(daemon->calls.isEmpty());
    }

    void daemonNotRunning_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command : {"status", "watch", "arm", "disarm", "clear-result"})
            QTest::newRow(command) << command;
    }

    void daemonNotRunning()
    {
        QFETCH(QString, command);
        daemon->withdraw();
        const Run run = ctl({command});
        QVERIFY(daemon->publish(QDBusConnection::connectToBus(bus.address(), "standin")));
        QCOMPARE(run.exitCode, 3);
        QCOMPARE(run.err, QStringList {"kirta-update-ctl: the update daemon is not running (no "
                                       "os.kirtalinux.zun.kirtaupdateservice on the system bus)"});
    }
};

QTEST_GUILESS_MAIN(TestUpdateCtl)
#include "tst_updatectl.moc"
