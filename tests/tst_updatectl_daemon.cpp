// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "buscontract.h"
#include "daemonprocess.h"
#include "privatebus.h"
#include "sandbox.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtDBus>
#include <QtTest>

namespace {
const QString SERVICE = QLatin1String(BusContract::SERVICE);
const QString PATH = QLatin1String(BusContract::PATH);
const QString FAILED_STAMP = QStringLiteral("/var/cache/kirta-update-service/unsuccessful");
const QString SUCCESS_STAMP = QStringLiteral("/var/cache/kirta-update-service/successful");
const QString MAJOR_STAMP = QStringLiteral("/var/cache/kirta-upgrade/successful");
const QString RELEASE = QStringLiteral("12.4.0");

QString utc(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm")) + QStringLiteral(" UTC");
}

// The lines `watch` printed, each checked for its time of day and without it.
QStringList watchedLines(const QByteArray &text)
{
    static const QRegularExpression timeOfDay(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            lines << (timeOfDay.match(line).hasMatch() ? line.mid(9)
                                                       : QStringLiteral("no time: ") + line);
    }
    return lines;
}
} // namespace

// kirta-update-ctl against the real sandboxed daemon: what it shows of the
// daemon's published status, what its changing commands say and what they
// leave on disk.
class TestUpdateCtlDaemon : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    SandboxTree tree;

    template<typename T> T ask(const QString &method) const
    {
        QDBusInterface daemon(SERVICE, PATH, SERVICE, QDBusConnection::systemBus());
        const QDBusReply<T> reply = daemon.call(method);
        return reply.isValid() ? reply.value() : T();
    }

    int state() const
    {
        QDBusInterface daemon(SERVICE, PATH, SERVICE, QDBusConnection::systemBus());
        const QDBusReply<int> reply = daemon.call(QStringLiteral("getCurrentStateAsInt"));
        return reply.isValid() ? reply.value() : -100;
    }

    QString ctl(const QStringList &arguments, int *exitCode)
    {
        QProcess process;
        startUpdateCtl(process, arguments);
        *exitCode = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000)
                            ? process.exitCode()
                            : -100;
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    }

    QString ctl(const QString &command, int *exitCode)
    {
        return ctl(QStringList {command}, exitCode);
    }

    // `status` with its deadline line checked apart: the deadline lies whole
    // days after the download, to the second, so a command run within that
    // same second reads one day more than any run later. The line must read
    // as at some second the command ran in; the other lines are returned.
    QStringList statusWithDeadline(const QString &deadlineShown, int *exitCode)
    {
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QStringList lines = ctl(QStringLiteral("status"), exitCode).split(QLatin1Char('\n'));
        const qint64 after = QDateTime::currentSecsSinceEpoch();
        const qint64 deadline
                = QDBusInterface(SERVICE, PATH, QLatin1String(BusContract::STATUS_INTERFACE),
                                 QDBusConnection::systemBus())
                          .property("Deadline")
                          .toLongLong();
        const auto lineAt = [&](qint64 now) {
            return QStringLiteral("Deadline:    %1 (in %2 days)")
                    .arg(deadlineShown)
                    .arg((deadline - now) / 86400);
        };
        const QString shown = lines.value(3);
        if (shown != lineAt(before) && shown != lineAt(after))
            qWarning("deadline line %s, expected %s or %s", qPrintable(shown),
                     qPrintable(lineAt(before)), qPrintable(lineAt(after)));
        else
            lines[3] = QStringLiteral("Deadline:    checked");
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.errorString()));
        QVERIFY(tree.reset());
        QVERIFY(tree.prepareDaemonCycle());
        for (const char *answer : {"update.exit", "is_enough_free_space.exit"})
            QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.") + answer,
                                   QByteArray("1")));
        QVERIFY(tree.setStandInOutput(QStringLiteral("apt"),
                                      QStringLiteral("Listing...\nhello/stable 2.0 amd64\n")));
        QVERIFY(tree.setStandInOutput(
                QStringLiteral("apt-cache"),
                QStringLiteral("kirta-version:\n  Installed: 12.3.0\n  Candidate: %1\n")
                        .arg(RELEASE)));
    }

    // One administrator's session: status, status --json, arm with watch
    // following in another terminal, disarm, clear-result.
    void commandsAgainstTheDaemon()
    {
        // Both results of a minor upgrade are there, and the major-release
        // tool's; the failure is the one shown.
        for (const QString &stamp : {FAILED_STAMP, SUCCESS_STAMP, MAJOR_STAMP})
            QVERIFY(tree.writeFile(stamp, QByteArray()));
        const QDateTime started = QDateTime::currentDateTimeUtc();
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(state() == 4, 20000);
        // What the methods answer; the command reads the Status properties.
        QCOMPARE(ask<QString>(QStringLiteral("getMinorUpdateVersion")), RELEASE);
        const QDateTime deadline
                = QDateTime::fromString(ask<QString>(QStringLiteral("getUpdateDateAsString")),
                                        QStringLiteral("hh:mm dd.MM.yyyy"));
        QVERIFY(deadline.isValid());

        QProcess watch;
        startUpdateCtl(watch, {QStringLiteral("watch")});
        QByteArray watched;
        // Waits for `line` among those printed after the first `from`.
        auto watchedUntil = [&](const QString &line, int from) {
            return waitUntil(
                    [&] {
                        watched += watch.readAllStandardOutput();
                        return watchedLines(watched).mid(from).contains(line);
                    },
                    30000);
        };
        QVERIFY2(watchedUntil(QStringLiteral("Postponed for power: none"), 0), watched.constData());
        const QStringList initial {
                QStringLiteral("State: ready (downloaded, not armed)"),
                QStringLiteral("Error: none"),
                QStringLiteral("Release: ") + RELEASE,
                QStringLiteral("Deadline: ") + utc(deadline),
                QStringLiteral("Forced: no"),
                QStringLiteral("Armed: no"),
                QStringLiteral("Packages: 1 (hello)"),
        };
        // Then the last check and result, the automatic restart (none
        // under the default policy) and the fleet lock (none configured).
        QVERIFY2(watchedUntil(QStringLiteral("Fleet lock says: none"), 0), watched.constData());
        QStringList lines = watchedLines(watched);
        QCOMPARE(lines.size(), initial.size() + 12);
        QCOMPARE(lines.mid(0, initial.size()), initial);
        QCOMPARE(lines.mid(initial.size() + 2),
                 QStringList({"Health: not checked (no upgrade boot since the daemon started)",
                              "Health reasons: none", "Health checked: never",
                              "Downloads held: none", "Postponed for power: none",
                              "Restart: none planned", "Restart waits: none", "Fleet lock held: no",
                              "Fleet lock since: no slot held", "Fleet lock says: none"}));
        const QString lastCheckLine = lines.at(initial.size());

        int exitCode = -1;
        const auto statusLines = [&](const QString &stateWords, bool armed, const QString &next) {
            return QStringList {
                    QStringLiteral("State:       ") + stateWords,
                    QStringLiteral("Error:       none"),
                    QStringLiteral("Release:     ") + RELEASE,
                    QStringLiteral("Deadline:    checked"),
                    QStringLiteral("Armed:       ") + (armed ? "yes" : "no"),
                    QStringLiteral("Forced:      no"),
                    QStringLiteral("Packages:    1"),
                    QStringLiteral("Last check:  ") + lastCheckLine.mid(12)
                            + QStringLiteral(" (now)"),
                    QStringLiteral("Last result: unsuccessful"),
                    QStringLiteral("Health:      not checked (no upgrade boot since the daemon "
                                   "started)"),
                    QStringLiteral("Restart:     none planned"),
                    QStringLiteral("Next:        ") + next,
                    QString(),
            };
        };
        QCOMPARE(statusWithDeadline(utc(deadline), &exitCode),
                 statusLines(QStringLiteral("ready (downloaded, not armed)"), false,
                             QStringLiteral("Release %1 is armed at the deadline, or now with "
                                            "\"kirta-update-ctl arm\".")
                                     .arg(RELEASE)));
        QCOMPARE(exitCode, 0);
        QVERIFY2(lastCheckLine.startsWith(QStringLiteral("Last check: ")),
                 qPrintable(lastCheckLine));
        QDateTime lastCheck = QDateTime::fromString(lastCheckLine.mid(12),
                                                    QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"));
        lastCheck.setTimeSpec(Qt::UTC);
        QVERIFY(lastCheck.toSecsSinceEpoch() / 60 >= started.toSecsSinceEpoch() / 60);
        QVERIFY(lastCheck <= QDateTime::currentDateTimeUtc());

        const QJsonObject json
                = QJsonDocument::fromJson(
                          ctl({QStringLiteral("status"), QStringLiteral("--json")}, &exitCode)
                                  .toUtf8())
                          .object();
        QCOMPARE(exitCode, 0);
        QCOMPARE(json.keys(), QStringList({"armed",
                                           "deadline",
                                           "download_held",
                                           "error",
                                           "forced",
                                           "health",
                                           "health_checked",
                                           "health_reasons",
                                           "last_check",
                                           "last_result",
                                           "packages",
                                           "postponed_for_power",
                                           "reboot_lock_held",
                                           "reboot_lock_since",
                                           "reboot_lock_text",
                                           "restart_blocker",
                                           "restart_planned",
                                           "state",
                                           "state_name",
                                           "target_release"}));
        // No lock configured: no slot.
        QCOMPARE(json.value("reboot_lock_held"), QJsonValue(false));
        QCOMPARE(json.value("reboot_lock_since").toInt(-1), 0);
        // The default policy never restarts.
        QCOMPARE(json.value("restart_planned").toInt(-1), 0);
        QCOMPARE(json.value("restart_blocker").toString(QStringLiteral("?")), QString());
        QCOMPARE(json.value("state").toInt(), ask<int>(QStringLiteral("getCurrentStateAsInt")));
        QCOMPARE(json.value("state_name").toString(),
                 ask<QString>(QStringLiteral("getCurrentStateAsString")));
        QCOMPARE(json.value("error").toInt(), ask<int>(QStringLiteral("getCurrentErrorAsInt")));
        QCOMPARE(json.value("target_release").toString(), RELEASE);
        // The method answers to the minute.
        QCOMPARE(qint64(json.value("deadline").toDouble()) / 60, deadline.toSecsSinceEpoch() / 60);
        QCOMPARE(json.value("forced"), QJsonValue(false));
        QCOMPARE(json.value("armed"),
                 QJsonValue(ask<bool>(QStringLiteral("isUpgradeOnRebootEnabled"))));
        QCOMPARE(json.value("packages").toArray(), QJsonArray {QStringLiteral("hello")});
        QCOMPARE(qint64(json.value("last_check").toDouble()) / 60,
                 lastCheck.toSecsSinceEpoch() / 60);
        QCOMPARE(json.value("last_result").toString(), QStringLiteral("unsuccessful"));

        QCOMPARE(ctl(QStringLiteral("arm"), &exitCode),
                 QStringLiteral("Checking free space and rehearsing the upgrade...\n"
                                "Armed: release %1 is installed at the next restart.\n")
                         .arg(RELEASE));
        QCOMPARE(exitCode, 0);
        QCOMPARE(state(), 5);
        QVERIFY(QFileInfo(tree.path(QStringLiteral("/system-update"))).isSymLink());
        QVERIFY2(watchedUntil(QStringLiteral("Armed: yes"), 0), watched.constData());
        QCOMPARE(watchedLines(watched).mid(initial.size() + 12),
                 QStringList({QStringLiteral("State: activated (armed for the next restart)"),
                              QStringLiteral("Armed: yes")}));
        QCOMPARE(statusWithDeadline(utc(deadline), &exitCode),
                 statusLines(QStringLiteral("activated (armed for the next restart)"), true,
                             QStringLiteral("Release %1 is installed at the next restart; "
                                            "\"kirta-update-ctl disarm\" postpones it.")
                                     .arg(RELEASE)));

        QCOMPARE(ctl(QStringLiteral("disarm"), &exitCode),
                 QStringLiteral("Disarmed: the update is not installed at the next restart.\n"));
        QCOMPARE(exitCode, 0);
        QCOMPARE(state(), 4);
        QVERIFY(!QFileInfo(tree.path(QStringLiteral("/system-update"))).isSymLink());
        QCOMPARE(ctl(QStringLiteral("disarm"), &exitCode), QStringLiteral("Nothing was armed.\n"));
        QCOMPARE(exitCode, 0);
        QVERIFY2(watchedUntil(QStringLiteral("Armed: no"), initial.size() + 14),
                 watched.constData());
        QCOMPARE(watchedLines(watched).mid(initial.size() + 14),
                 QStringList({QStringLiteral("State: ready (downloaded, not armed)"),
                              QStringLiteral("Armed: no")}));

        // Both results of a minor upgrade go, with no moment in which the
        // success shows; the major-release tool's stay.
        QCOMPARE(ctl(QStringLiteral("clear-result"), &exitCode),
                 QStringLiteral("Cleared the result of the last offline upgrade.\n"));
        QCOMPARE(exitCode, 0);
        QVERIFY(!tree.exists(FAILED_STAMP));
        QVERIFY(!tree.exists(SUCCESS_STAMP));
        QVERIFY(tree.exists(MAJOR_STAMP));
        QVERIFY2(watchedUntil(QStringLiteral("Last result: none"), initial.size() + 16),
                 watched.constData());
        QVERIFY2(watchedLines(watched).mid(initial.size() + 16)
                         == QStringList {QStringLiteral("Last result: none")},
                 watched.constData());
        QCOMPARE(ctl(QStringLiteral("clear-result"), &exitCode),
                 QStringLiteral("No result to clear.\n"));
        QCOMPARE(exitCode, 0);

        QVERIFY(daemon.terminate());
        QVERIFY2(watchedUntil(QStringLiteral("The daemon left the bus"), 0), watched.constData());
        watch.kill();
        watch.waitForFinished();
    }

    // The restart policy as configured reaches status and --json once the
    // update is armed: here a window twelve hours away.
    void restartPlanOnceArmed()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const int hour = (now.time().hour() + 12) % 24;
        QDateTime open(now.date(), QTime(hour, 0), Qt::UTC);
        if (open <= now)
            open = open.addDays(1);
        const QString config = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
        QVERIFY(tree.writeFile(config, tree.readFile(config)
                                               + QStringLiteral("Restart_policy=in-window\n"
                                                                "Maintenance_windows=daily "
                                                                "%1:00-%1:30\n")
                                                         .arg(hour, 2, 10, QLatin1Char('0'))));
        DaemonProcess daemon;
        daemon.setEnvironmentValue(QStringLiteral("TZ"), QStringLiteral("UTC"));
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(state() == 4, 20000);
        int exitCode = -1;
        const auto restart = [&] {
            const QJsonObject json
                    = QJsonDocument::fromJson(
                              ctl({QStringLiteral("status"), QStringLiteral("--json")}, &exitCode)
                                      .toUtf8())
                              .object();
            return qMakePair(json.value("restart_planned").toVariant().toLongLong(),
                             json.value("restart_blocker").toString());
        };
        // Nothing armed: nothing planned.
        QCOMPARE(restart(), qMakePair(qint64(0), QString()));
        QVERIFY(ctl(QStringLiteral("arm"), &exitCode).contains(QLatin1String("Armed:")));
        QCOMPARE(exitCode, 0);
        const auto expected
                = qMakePair(open.toSecsSinceEpoch(),
                            QStringLiteral("outside the maintenance window, next ")
                                    + QLocale::c().toString(open, QStringLiteral("ddd hh:mm")));
        KIRTA_WAIT_VERIFY(restart() == expected, 10000);
        QVERIFY(ctl(QStringLiteral("status"), &exitCode)
                        .contains(QStringLiteral("Restart:     %1 (in ").arg(utc(open))));
        QVERIFY(DaemonProcess::logText().contains(
                QLatin1String("Automatic restart: outside the maintenance window")));

        // A daemon started again while the update stays armed checks
        // nothing: the plan and what the boot installs must still show.
        QVERIFY(daemon.terminate());
        DaemonProcess again;
        again.setEnvironmentValue(QStringLiteral("TZ"), QStringLiteral("UTC"));
        QVERIFY(again.start());
        KIRTA_WAIT_VERIFY(state() == 5, 20000);
        KIRTA_WAIT_VERIFY(restart() == expected, 10000);
        const QString status = ctl(QStringLiteral("status"), &exitCode);
        QVERIFY2(status.contains(QLatin1String("\nPackages:    1\n")), qPrintable(status));
        QCOMPARE(QJsonDocument::fromJson(
                         ctl({QStringLiteral("status"), QStringLiteral("--json")}, &exitCode)
                                 .toUtf8())
                         .object()
                         .value("packages")
                         .toArray(),
                 QJsonArray {QStringLiteral("hello")});
        QVERIFY(again.terminate());
    }
};

QTEST_GUILESS_MAIN(TestUpdateCtlDaemon)
#include "tst_updatectl_daemon.moc"
