// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The fleet lock's slot across a restart: given back only when the machine
// is healthy and nothing else is planned, kept otherwise, and the mark file
// that carries the fact over the restart.

#include "rebootlock.h"
#include "rebootslotkeeper.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// Answers like a real lock does: later, once per request.
class RecordingLock : public RebootLock
{
    Q_OBJECT

public:
    using RebootLock::RebootLock;

    void acquire() override
    {
        ++acquires;
        QTimer::singleShot(0, this, [this] { Q_EMIT granted(); });
    }
    void release() override
    {
        ++releases;
        const QString why = refusals > 0 ? QStringLiteral("etcd unreachable") : QString();
        if (refusals > 0)
            --refusals;
        QTimer::singleShot(0, this, [this, why] {
            if (why.isEmpty())
                Q_EMIT released();
            else
                Q_EMIT denied(why);
        });
    }
    QString describe() const override { return QStringLiteral("etcd group web"); }

    int acquires = 0;
    int releases = 0;
    // How many releases are refused before one succeeds.
    int refusals = 0;
};

using Verdict = RebootSlotKeeper::Verdict;

} // namespace

Q_DECLARE_METATYPE(RebootSlotKeeper::Verdict)

class TestRebootSlotKeeper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString mark() const { return m_dir.filePath(QStringLiteral("reboot-lock-held")); }
    void writeMark()
    {
        QFile file(mark());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("etcd group web\n2026-12-08T02:00:00Z\n");
    }

private Q_SLOTS:
    void init() { QFile::remove(mark()); }

    // At a start with a slot held, as the start-up judges it.
    void startUp_data()
    {
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<bool>("restartPlanned");
        QTest::addColumn<bool>("givenBack");
        QTest::addColumn<QString>("text");
        QTest::newRow("restarted by hand, nothing planned")
                << Verdict::None << QStringList() << false << true << QString();
        QTest::newRow("healthy upgrade boot")
                << Verdict::Healthy << QStringList() << false << true << QString();
        QTest::newRow("a restart is still planned") << Verdict::None << QStringList() << true
                                                    << false << "held for the planned restart";
        QTest::newRow("health not known yet")
                << Verdict::Judging << QStringList() << false << false
                << "held until the check after the upgrade boot says healthy";
        QTest::newRow("unhealthy")
                << Verdict::Unhealthy << QStringList {"unit db.service failed", "check x failed"}
                << false << false
                << "kept: the system is unhealthy after the upgrade (unit db.service failed; "
                   "check x failed); kirta-update-ctl release-lock gives it back";
        QTest::newRow("offline upgrade failed")
                << Verdict::UpgradeFailed << QStringList() << false << false
                << "kept: the offline upgrade failed; kirta-update-ctl release-lock gives it back";
    }

    void startUp()
    {
        QFETCH(Verdict, verdict);
        QFETCH(QStringList, reasons);
        QFETCH(bool, restartPlanned);
        QFETCH(bool, givenBack);
        QFETCH(QString, text);
        writeMark();
        RecordingLock lock;
        RebootSlotKeeper keeper(mark());
        keeper.setLock(&lock);
        keeper.setVerdict(verdict, reasons);
        keeper.setRestartPlanned(restartPlanned);
        // Nothing is decided before the start has settled.
        QCOMPARE(lock.releases, 0);
        QVERIFY(keeper.status().held);
        keeper.begin();
        if (givenBack) {
            QTRY_VERIFY(!keeper.status().held);
            QCOMPARE(lock.releases, 1);
            QVERIFY(!QFile::exists(mark()));
            QCOMPARE(keeper.status().text, QString());
        } else {
            QCoreApplication::processEvents();
            QCOMPARE(lock.releases, 0);
            QVERIFY(QFile::exists(mark()));
            QVERIFY(keeper.status().held);
            QCOMPARE(keeper.status().since, QDateTime(QDate(2026, 12, 8), QTime(2, 0), Qt::UTC));
            QCOMPARE(keeper.status().text, text);
        }
        QCOMPARE(lock.acquires, 0);
    }

    // The check after the upgrade boot decides later than the start.
    void verdictArrivesLater_data()
    {
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<bool>("givenBack");
        QTest::newRow("healthy") << Verdict::Healthy << true;
        QTest::newRow("unhealthy") << Verdict::Unhealthy << false;
    }

    void verdictArrivesLater()
    {
        QFETCH(Verdict, verdict);
        QFETCH(bool, givenBack);
        writeMark();
        RecordingLock lock;
        RebootSlotKeeper keeper(mark());
        keeper.setLock(&lock);
        keeper.setVerdict(Verdict::Judging);
        keeper.begin();
        QCoreApplication::processEvents();
        QCOMPARE(lock.releases, 0);
        keeper.setVerdict(verdict, {QStringLiteral("unit db.service failed")});
        if (givenBack) {
            QTRY_VERIFY(!keeper.status().held);
        } else {
            QCoreApplication::processEvents();
            QVERIFY(keeper.status().held);
            // Root, once a person has looked.
            QCOMPARE(keeper.releaseByHand(QStringLiteral("uid 0")), int(RebootSlotKeeper::Asked));
            QTRY_VERIFY(!keeper.status().held);
        }
        QCOMPARE(lock.releases, 1);
        QVERIFY(!QFile::exists(mark()));
    }

    // A slot granted before the restart is still known after it, by a new
    // keeper (the next start of the daemon).
    void grantSurvivesTheRestart()
    {
        QDateTime since;
        {
            RecordingLock lock;
            RebootSlotKeeper keeper(mark());
            keeper.setLock(&lock);
            keeper.setRestartPlanned(true);
            keeper.begin();
            QVERIFY(!keeper.status().held);
            lock.acquire();
            QTRY_VERIFY(keeper.status().held);
            QVERIFY(QFile::exists(mark()));
            QCOMPARE(keeper.status().text, QStringLiteral("held for the planned restart"));
            since = keeper.status().since;
            QVERIFY(since.isValid());
        }
        RecordingLock lock;
        RebootSlotKeeper keeper(mark());
        keeper.setLock(&lock);
        keeper.setVerdict(Verdict::Judging);
        keeper.begin();
        QVERIFY(keeper.status().held);
        QCOMPARE(keeper.status().since.toSecsSinceEpoch(), since.toSecsSinceEpoch());
        QCOMPARE(lock.releases, 0);
    }

    // A lock that cannot be reached keeps the slot and the mark, says why,
    // and is asked again later, not in a loop.
    void refusedGiveBackIsRetried()
    {
        writeMark();
        RecordingLock lock;
        lock.refusals = 1;
        RebootSlotKeeper keeper(mark());
        keeper.setRetryInterval(50);
        keeper.setLock(&lock);
        keeper.begin();
        QTRY_COMPARE(keeper.status().text,
                     QStringLiteral("held, cannot give it back: etcd unreachable"));
        QCOMPARE(lock.releases, 1);
        QVERIFY(QFile::exists(mark()));
        QTRY_VERIFY(!keeper.status().held);
        QCOMPARE(lock.releases, 2);
        QVERIFY(!QFile::exists(mark()));
        // Every answer counted, for the metrics.
        QCOMPARE(keeper.status().denied, 1);
        QCOMPARE(keeper.status().released, 1);
        QCOMPARE(keeper.status().granted, 0);
    }

    void releaseByHandWithoutSlotOrLock()
    {
        RecordingLock lock;
        {
            RebootSlotKeeper keeper(mark());
            keeper.setLock(&lock);
            keeper.begin();
            QCOMPARE(keeper.releaseByHand(QStringLiteral("uid 0")),
                     int(RebootSlotKeeper::NothingHeld));
        }
        writeMark();
        RebootSlotKeeper keeper(mark());
        keeper.setVerdict(Verdict::Unhealthy);
        keeper.begin();
        QCOMPARE(keeper.releaseByHand(QStringLiteral("uid 0")), int(RebootSlotKeeper::NoLock));
        QVERIFY(keeper.status().held);
        QCOMPARE(keeper.status().text,
                 QStringLiteral("held, but no usable lock is configured to give it back to"));
        // Nothing asked of a lock that was never given.
        QCOMPARE(lock.releases, 0);
    }
};

QTEST_GUILESS_MAIN(TestRebootSlotKeeper)
#include "tst_rebootslotkeeper.moc"
