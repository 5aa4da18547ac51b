// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "afterreboot.h"
#include "codes.h"
#include "constants.h"
#include "logger.h"
#include "sandbox.h"

#include <QSignalSpy>
#include <QtTest>

// The part that follows the offline upgrade, through its own interface, in
// a sandbox tree with a stand-in stage program: which recovery run each set
// of stamps leaves behind, the snapshot kept for the health check, the
// snapshot stamp following the configuration, and clearing result stamps.

namespace {
const QString STAGE = QStringLiteral("kirta-update-service");
const QString STATE_DIR = QStringLiteral("/var/cache/kirta-update-service/");
const QString LOG = QStringLiteral("/var/log/kirta-update-service/service.log");
const QString WHERE = QStringLiteral("test");
} // namespace

class TestAfterReboot : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    QStringList recoveryRuns() const
    {
        return tree.standInCalls(STAGE).filter(QRegularExpression("^(rollback|rm_snapshot)$"));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.installDaemonStandIns());
        QVERIFY(tree.mkpath(STATE_DIR));
        QVERIFY(tree.mkpath(QStringLiteral("/var/log/kirta-update-service")));
    }

    // The stamps the offline upgrade left, whether this is the first start
    // after it, whether the health check wants the snapshot: the recovery
    // run owed at once, whether the snapshot is kept, handed over to the
    // automatization, and what letting a kept one go then runs.
    void settle_data()
    {
        QTest::addColumn<QStringList>("stamps");
        QTest::addColumn<bool>("upgradeRan");
        QTest::addColumn<bool>("keepForHealth");
        QTest::addColumn<int>("fsType");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("handingOver");
        QTest::addColumn<QStringList>("runsOnRelease");

        const QStringList rollback {QStringLiteral("rollback")};
        const QStringList remove {QStringLiteral("rm_snapshot")};
        const QStringList none;
        const int other = toInt(FsType::Other);
        const int lvm = toInt(FsType::Lvm);
        QTest::newRow("failure rolls back, whatever else is there")
                << QStringList {"snapshot", "unsuccessful", "successful"} << true << true << other
                << rollback << false << false << none;
        QTest::newRow("success on LVM hands it over")
                << QStringList {"snapshot", "successful"} << true << false << lvm << none << false
                << true << none;
        QTest::newRow("kept for the health check, removed once healthy")
                << QStringList {"snapshot", "successful"} << true << true << other << none << true
                << false << remove;
        QTest::newRow("kept for the health check, handed over once healthy")
                << QStringList {"snapshot", "successful"} << true << true << lvm << none << true
                << true << none;
        // Only the first start after the upgrade has a health check to wait for.
        QTest::newRow("a later start does not keep it")
                << QStringList {"snapshot", "successful"} << false << true << other << remove
                << false << false << none;
        QTest::newRow("snapshot without a result") << QStringList {"snapshot"} << true << false
                                                   << other << none << false << false << none;
    }

    void settle()
    {
        QFETCH(QStringList, stamps);
        QFETCH(bool, upgradeRan);
        QFETCH(bool, keepForHealth);
        QFETCH(int, fsType);
        QFETCH(QStringList, runs);
        QFETCH(bool, kept);
        QFETCH(bool, handingOver);
        QFETCH(QStringList, runsOnRelease);
        for (const QString &stamp : stamps)
            QVERIFY(tree.writeFile(STATE_DIR + stamp, QByteArray()));
        if (upgradeRan)
            QVERIFY(tree.writeFile(STATE_DIR + "upgrade_ran", QByteArray()));
        QVERIFY(tree.writeFile(QStringLiteral("/standin/%1.get_fs_type.exit").arg(STAGE),
                               QString::number(fsType)));
        QVERIFY(tree.writeFile(
                QStringLiteral("/standin/%1.snapshot_manager_installed.exit").arg(STAGE),
                QStringLiteral("1")));
        QVERIFY(tree.writeFile(STATE_DIR + "automatization_trigger",
                               QStringLiteral("10:00 01.01.2099\n")));

        Logger logger(LOG_FILE_PATH, Logger::Debug);
        AfterReboot part(logger, AfterReboot::Paths::system());
        QSignalSpy starting(&part, &AfterReboot::recoveryStarting);
        QCOMPARE(part.readMark(), upgradeRan);
        part.settle(keepForHealth, WHERE);
        part.finishRecovery();
        QCOMPARE(recoveryRuns(), runs);
        QCOMPARE(starting.count(), runs.size());
        QCOMPARE(part.isSnapshotKept(), kept);
        QCOMPARE(part.isHandingOver(), handingOver && !kept);

        QVERIFY(tree.clearStandInCalls(STAGE));
        QCOMPARE(part.releaseKeptSnapshot(), kept);
        part.finishRecovery();
        QCOMPARE(recoveryRuns(), runsOnRelease);
        QVERIFY(!part.isSnapshotKept());
        QCOMPARE(part.isHandingOver(), handingOver);
        // Once let go, it is not let go again.
        QVERIFY(!part.releaseKeptSnapshot());
    }

    void markSnapshot_data()
    {
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("wanted");
        QTest::addColumn<bool>("stateDir");
        QTest::addColumn<bool>("after");
        QTest::addColumn<bool>("fails");

        QTest::newRow("asked for") << false << true << true << true << false;
        QTest::newRow("no longer asked for") << true << false << true << false << false;
        // Said, not passed over: the upgrade would otherwise run without a
        // snapshot to go back to.
        QTest::newRow("cannot be written") << false << true << false << false << true;
    }

    void markSnapshot()
    {
        QFETCH(bool, before);
        QFETCH(bool, wanted);
        QFETCH(bool, stateDir);
        QFETCH(bool, after);
        QFETCH(bool, fails);
        if (before)
            QVERIFY(tree.writeFile(STATE_DIR + "snapshot", QByteArray()));
        if (!stateDir)
            QVERIFY(QDir(tree.path(STATE_DIR)).removeRecursively());
        Logger logger(tree.path(QStringLiteral("/part.log")), Logger::Debug);
        AfterReboot part(logger, AfterReboot::Paths::system());
        const QString failure = part.markSnapshot(wanted, WHERE);
        QCOMPARE(tree.exists(STATE_DIR + "snapshot"), after);
        QCOMPARE(!failure.isEmpty(), fails);
        if (fails)
            QVERIFY2(failure.startsWith(SNAPSHOT_STAMP_PATH + ": "), qPrintable(failure));
    }

    // What a start while armed reads back, and a listing that cannot be
    // read said, not taken for an empty upgrade.
    void readArmed_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("stamp");
        QTest::addColumn<QString>("release");
        QTest::addColumn<QStringList>("listing");
        QTest::addColumn<QString>("failedPath");

        const QByteArray status("[General]\nstatus=activated\ntarget_release=12.4.1\n");
        QTest::newRow("both there")
                << status << true << "12.4.1" << QStringList {"hello", "world"} << "";
        QTest::newRow("stamp gone")
                << status << false << "12.4.1" << QStringList() << UPGRADE_STAMP_PATH;
        QTest::newRow("no release")
                << QByteArray() << true << "" << QStringList {"hello", "world"} << "";
    }

    void readArmed()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, stamp);
        QFETCH(QString, release);
        QFETCH(QStringList, listing);
        QFETCH(QString, failedPath);
        QVERIFY(tree.writeFile(STATE_DIR + "status", status));
        if (stamp)
            QVERIFY(tree.writeFile(STATE_DIR + "upgradable", QByteArray("hello\nworld")));
        Logger logger(tree.path(QStringLiteral("/part.log")), Logger::Debug);
        const AfterReboot part(logger, AfterReboot::Paths::system());
        const AfterReboot::Armed armed = part.readArmed();
        QCOMPARE(armed.targetRelease, release);
        QCOMPARE(armed.listing, listing);
        QCOMPARE(armed.failure.section(QStringLiteral(": "), 0, 0), failedPath);
    }

    void removeResultStamp_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("stamp");
        QTest::addColumn<QString>("present"); // "file", "directory" or empty
        QTest::addColumn<int>("code");

        const int removed = toInt(StampRemoval::Removed);
        const int absent = toInt(StampRemoval::Absent);
        const QString minorSucceeded = STATE_DIR + "successful";
        QTest::newRow("minor") << toInt(ResultStamp::MinorSucceeded) << minorSucceeded << "file"
                               << removed;
        QTest::newRow("major") << toInt(ResultStamp::MajorAborted)
                               << "/var/cache/kirta-upgrade/upgrade_aborted"
                               << "file" << removed;
        // Another type leaves the stamps alone.
        QTest::newRow("unknown type") << 7 << minorSucceeded << "file" << absent;
        QTest::newRow("cannot be removed")
                << toInt(ResultStamp::MinorFailed) << STATE_DIR + "unsuccessful"
                << "directory" << toInt(StampRemoval::Failed);
    }

    void removeResultStamp()
    {
        QFETCH(int, type);
        QFETCH(QString, stamp);
        QFETCH(QString, present);
        QFETCH(int, code);
        if (present == QLatin1String("file"))
            QVERIFY(tree.writeFile(stamp, QByteArray()));
        else if (present == QLatin1String("directory"))
            QVERIFY(tree.writeFile(stamp + "/inside", QByteArray()));
        Logger logger(tree.path(QStringLiteral("/part.log")), Logger::Debug);
        AfterReboot part(logger, AfterReboot::Paths::system());

        const AfterReboot::Outcome<StampRemoval> outcome = part.removeResultStamp(type, WHERE);
        QCOMPARE(toInt(outcome.code), code);
        QCOMPARE(outcome.failure.isEmpty(), outcome.code != StampRemoval::Failed);
        if (outcome.code == StampRemoval::Failed)
            QVERIFY2(outcome.failure.startsWith(tree.path(stamp) + ": "),
                     qPrintable(outcome.failure));
        QCOMPARE(tree.exists(stamp), !present.isEmpty() && code != toInt(StampRemoval::Removed));
    }
};

QTEST_GUILESS_MAIN(TestAfterReboot)
#include "tst_afterreboot.moc"
