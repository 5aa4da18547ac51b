// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "logger.h"
#include "sandbox.h"
#include "triggerchecker.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QtTest>

#include <ctime>
#include <memory>

namespace {
const QString STAGE_PROGRAM = QStringLiteral("/usr/sbin/kirta-update-service");
const QString MANAGER = QStringLiteral("/usr/sbin/kirta-snapshots-manager");
const QString LVS = QStringLiteral("/usr/sbin/lvs");
const QString TRIGGER = QStringLiteral("/var/cache/kirta-update-service/automatization_trigger");
const QString LOG = QStringLiteral("/var/log/trigger.log");

const QString NO_SNAPSHOT = QStringLiteral("  vg0|root|-wi-ao----|||\n");

QString snapshotAt(const QString &percent)
{
    return NO_SNAPSHOT + QStringLiteral("  vg0|pre-upgrade|swi-a-s---|root|%1\n").arg(percent);
}

QString stamp(const QDateTime &time)
{
    return time.toString(QStringLiteral("hh:mm dd.MM.yyyy"));
}

QByteArray line(const QDateTime &time, const char *suffix = "")
{
    return stamp(time).toLocal8Bit() + suffix;
}
} // namespace

class TestTriggerChecker : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::unique_ptr<Logger> m_logger;
    std::unique_ptr<TriggerChecker> m_checker;
    QByteArray m_savedTz;

    QString log() const { return m_tree.readFile(LOG); }
    void startTimer() { m_checker->m_timer.start(); }
    void check() { m_checker->m_checkTrigger(); }

    void verifyLog(const QStringList &present, const QStringList &absent)
    {
        const QString text = log();
        for (const QString &line : present)
            QVERIFY2(text.contains(line),
                     qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(line, text)));
        for (const QString &line : absent)
            QVERIFY2(!text.contains(line),
                     qPrintable(QStringLiteral("unexpected \"%1\" in:\n%2").arg(line, text)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), "KIRTA_SYSROOT must name a sandbox tree");
        // The checker must work on the files the tests lay out.
        QCOMPARE(TRIGGER_FILE_PATH, m_tree.path(TRIGGER));
        QCOMPARE(SNAPSHOTS_MANAGER_PATH, m_tree.path(MANAGER));
        QCOMPARE(SERVICE_SCRIPT_PATH, m_tree.path(STAGE_PROGRAM));
        m_savedTz = qgetenv("TZ");
    }

    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        for (const QString &program : {STAGE_PROGRAM, MANAGER, LVS})
            QVERIFY(m_tree.installStandIn(program));
        QVERIFY(m_tree.setStandInOutput(QStringLiteral("lvs"), NO_SNAPSHOT));
        m_logger = std::make_unique<Logger>(m_tree.path(LOG), Logger::Debug);
        m_checker = std::make_unique<TriggerChecker>(SERVICE_SCRIPT_PATH, m_logger.get());
    }

    void cleanup()
    {
        m_checker.reset();
        if (m_savedTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_savedTz);
        tzset();
    }

    void checkTrigger_data()
    {
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<QByteArray>("trigger");
        QTest::addColumn<QString>("lvs");
        QTest::addColumn<int>("enabledAnswer");
        // -1: the snapshot manager is missing.
        QTest::addColumn<int>("managerExit");
        QTest::addColumn<bool>("enabling");
        QTest::addColumn<bool>("done");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime past = now.addSecs(-3600);
        const QDateTime future = now.addDays(1);
        QDateTime thisMinute = now;
        thisMinute.setTime(QTime(now.time().hour(), now.time().minute()));
        const QStringList finished {QStringLiteral("Trigger file removed"),
                                    QStringLiteral("Stop checking automatization")};
        const QStringList enabled
                = QStringList {QStringLiteral("Enabling automatization")} + finished;
        const QStringList waiting {QStringLiteral("Automatization is not enabled yet")};
        const QStringList noTime = waiting + QStringList {QStringLiteral("trigger date time = \n")};
        const QString noSnapshot = QStringLiteral("snapshots == NULL or snapshots[0] == NULL");

        QTest::newRow("time passed")
                << true << line(past, "\n") << NO_SNAPSHOT << 0 << 0 << true << true
                << QStringList {noSnapshot, "trigger date time = " + stamp(past)} + enabled
                << QStringList {"Failed to start automatization", "not enabled yet"};
        QTest::newRow("time of this minute, no line end")
                << true << line(thisMinute) << NO_SNAPSHOT << 0 << 0 << true << true << enabled
                << QStringList();
        QTest::newRow("blanks, CR and further lines")
                << true << "  " + line(past, " \r\n12:00 01.01.2999\n") << NO_SNAPSHOT << 0 << 0
                << true << true << enabled << QStringList();
        QTest::newRow("time ahead")
                << true << line(future, "\n") << NO_SNAPSHOT << 0 << 0 << false << false
                << waiting + QStringList {"trigger date time = " + stamp(future)}
                << QStringList {"Enabling automatization", "Trigger file removed"};
        QTest::newRow("time ahead, snapshot at 99 %, only the first snapshot counts")
                << true << line(future) << snapshotAt("99.00") + "  vg0|b|swi-a-s---|root|100\n"
                << 0 << 0 << false << false << waiting + QStringList {"Snapshot fill percent is 99"}
                << QStringList();
        QTest::newRow("snapshot full, time ahead")
                << true << line(future) << snapshotAt("100.00") << 0 << 0 << true << true
                << QStringList {"Snapshot fill percent is 100"} + enabled
                << QStringList {"trigger date time", "string in trigger_file"};
        QTest::newRow("snapshot full, file gone")
                << false << QByteArray() << snapshotAt("100.00") << 0 << 0 << true << true
                << QStringList {"Enabling automatization", "Failed to remove trigger file",
                                "Stop checking automatization"}
                << QStringList {"Trigger file removed"};
        QTest::newRow("file gone")
                << false << QByteArray() << NO_SNAPSHOT << 0 << 0 << false << false
                << noTime + QStringList {"Failed to open trigger file"} << QStringList();

        const QList<QPair<const char *, QByteArray>> garbage {
                {"one-digit hour", "1:00 01.01.2020\n"},
                {"no such day", "12:00 31.02.2020\n"},
                {"time on the second line", "\n12:00 01.01.2020\n"},
                {"empty file", ""},
                {"binary", QByteArray("\0\xff\xfe\x01 12:00 01.01.2020", 22)},
                {"long line without end", QByteArray(200000, 'x')},
        };
        for (const auto &row : garbage)
            QTest::newRow(row.first) << true << row.second << NO_SNAPSHOT << 0 << 0 << false
                                     << false << noTime << QStringList {"Enabling automatization"};

        QTest::newRow("automatization already on")
                << true << line(past) << snapshotAt("100") << 1 << 0 << false << true
                << QStringList {"Automatization is already enabled"} + finished
                << QStringList {"Enabling automatization", "Snapshot fill percent", noSnapshot,
                                "trigger date time"};
        QTest::newRow("snapshot manager fails")
                << true << line(past) << NO_SNAPSHOT << 0 << 3 << true << true
                << QStringList {"Failed to start automatization, exitCode = 3"} + enabled
                << QStringList();
        QTest::newRow("snapshot manager missing")
                << true << line(past) << NO_SNAPSHOT << 0 << -1 << false << true
                << QStringList {"Failed to start automatization, exitCode = -1"} + enabled
                << QStringList();
    }

    void checkTrigger()
    {
        QFETCH(bool, hasFile);
        QFETCH(QByteArray, trigger);
        QFETCH(QString, lvs);
        QFETCH(int, enabledAnswer);
        QFETCH(int, managerExit);
        QFETCH(bool, enabling);
        QFETCH(bool, done);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);

        if (hasFile)
            QVERIFY(m_tree.writeFile(TRIGGER, trigger));
        QVERIFY(m_tree.setStandInOutput(QStringLiteral("lvs"), lvs));
        QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-update-service"), enabledAnswer));
        if (managerExit < 0)
            QVERIFY(QFile::remove(m_tree.path(MANAGER)));
        else
            QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-snapshots-manager"),
                                              managerExit));
        startTimer();

        check();

        QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-update-service")),
                 QStringList {"automatization_enabled"});
        QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")),
                 enabling ? QStringList {"-r"} : QStringList());
        QCOMPARE(m_tree.exists(TRIGGER), hasFile && !done);
        QCOMPARE(m_checker->isChecking(), !done);
        if (enabledAnswer == 1)
            QVERIFY(m_tree.standInCalls(QStringLiteral("lvs")).isEmpty());
        verifyLog(present, absent);
    }

    void startTriggerCheck_data()
    {
        QTest::addColumn<int>("installedAnswer");
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<bool>("started");

        QTest::newRow("installed, file present") << 1 << true << true;
        QTest::newRow("installed, no file") << 1 << false << false;
        QTest::newRow("not installed") << 0 << true << false;
        QTest::newRow("stage program missing") << -1 << true << false;
    }

    void startTriggerCheck()
    {
        QFETCH(int, installedAnswer);
        QFETCH(bool, hasFile);
        QFETCH(bool, started);

        const QByteArray trigger = "12:00 01.01.2020\n";
        if (hasFile)
            QVERIFY(m_tree.writeFile(TRIGGER, trigger));
        if (installedAnswer < 0)
            QVERIFY(QFile::remove(m_tree.path(STAGE_PROGRAM)));
        else
            QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-update-service"),
                                              installedAnswer));

        m_checker->startTriggerCheck();

        QCOMPARE(m_checker->isChecking(), started);
        if (installedAnswer >= 0)
            QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-update-service")),
                     QStringList {"snapshot_manager_installed"});
        if (started) {
            QCOMPARE(m_checker->m_timer.interval(), 300000);
            verifyLog({QStringLiteral("Start checking automatization trigger")}, {});
        } else {
            verifyLog({QStringLiteral(
                              "Snapshot manager is not installed or trigger file does not exist")},
                      {QStringLiteral("Start checking")});
        }
        // Starting never checks at once, and never touches the file.
        QVERIFY(m_tree.standInCalls(QStringLiteral("lvs")).isEmpty());
        QVERIFY(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")).isEmpty());
        QCOMPARE(m_tree.exists(TRIGGER), hasFile);
        if (hasFile)
            QCOMPARE(m_tree.readFile(TRIGGER).toLocal8Bit(), trigger);
        verifyLog({}, {QStringLiteral("string in trigger_file")});
    }

    // The timer keeps checking until the trigger time has come, then stops.
    void timerDrivesChecks()
    {
        QVERIFY(m_tree.writeFile(TRIGGER, line(QDateTime::currentDateTime().addDays(1))));
        QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-update-service"), 1));
        m_checker->setInterval(50);
        m_checker->startTriggerCheck();
        QVERIFY(m_checker->isChecking());
        QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-update-service"), 0));

        KIRTA_WAIT_VERIFY(m_tree.standInCalls(QStringLiteral("kirta-update-service")).size() >= 3,
                          20000);
        QVERIFY(m_checker->isChecking());
        QVERIFY(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")).isEmpty());

        QVERIFY(m_tree.writeFile(TRIGGER, line(QDateTime::currentDateTime().addSecs(-60))));
        KIRTA_WAIT_VERIFY(!m_checker->isChecking(), 20000);
        QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")),
                 QStringList {"-r"});
        QVERIFY(!m_tree.exists(TRIGGER));
    }

    // A hanging snapshot manager holds the check up only for the bound; its
    // exit code is still logged when it ends.
    void hangingManager()
    {
        QVERIFY(m_tree.writeFile(TRIGGER, line(QDateTime::currentDateTime().addSecs(-60))));
        QVERIFY(m_tree.setStandInDelay(QStringLiteral("kirta-snapshots-manager"), 3));
        QVERIFY(m_tree.setStandInExitCode(QStringLiteral("kirta-snapshots-manager"), 3));
        m_checker->setManagerTimeout(300);
        startTimer();

        QElapsedTimer elapsed;
        elapsed.start();
        check();
        QVERIFY2(elapsed.elapsed() < 2500, qPrintable(QString::number(elapsed.elapsed())));

        QVERIFY(!m_checker->isChecking());
        QVERIFY(!m_tree.exists(TRIGGER));
        verifyLog({}, {QStringLiteral("Failed to start automatization")});
        KIRTA_WAIT_VERIFY(
                log().contains(QStringLiteral("Failed to start automatization, exitCode = 3")),
                15000);
    }

    // A trigger time that the clock skips at the start of summer time must
    // still pass.
    void summerTimeGap()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        if (QDateTime(QDate(2024, 3, 31), QTime(2, 30)).isValid())
            QSKIP("no time zone data for Europe/Berlin");
        QVERIFY(m_tree.writeFile(TRIGGER, QByteArray("02:30 31.03.2024\n")));
        startTimer();

        check();

        QCOMPARE(m_tree.standInCalls(QStringLiteral("kirta-snapshots-manager")),
                 QStringList {"-r"});
        QVERIFY(!m_checker->isChecking());
        verifyLog({QStringLiteral("trigger date time = 03:30 31.03.2024")}, {});
    }
};

QTEST_GUILESS_MAIN(TestTriggerChecker)
#include "tst_triggerchecker.moc"
