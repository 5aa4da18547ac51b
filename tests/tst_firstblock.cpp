// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "firstblock.h"
#include "logger.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

// The first block through its own interface: the pass an arm asks for, the
// imitation on its own thread (each way a run can end reaches the main
// thread as one result, and nothing of it is left behind), one pass at a
// time, and a part that goes while its imitation runs.

namespace {
const QString IMITATION = QStringLiteral("/usr/bin/kirta-update-modern");
const QString IMITATION_NAME = QStringLiteral("kirta-update-modern");
const int SHORT_TIMEOUT_MS = 1000;
// Far below the hanging stand-in's 30 s.
const int BOUND_MS = 10000;
} // namespace

class TestFirstBlock : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::unique_ptr<Logger> m_logger;

    struct Results
    {
        QVector<int> values;
        bool allOnMainThread = true;
    };

    // Collects the part's results and on which thread each arrived.
    static void collect(FirstBlock &part, Results *results)
    {
        connect(&part, &FirstBlock::imitationFinished, &part, [results](int res) {
            results->values << res;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                results->allOnMainThread = false;
        });
    }

    // Reported, and the thread gone: nothing can report again.
    static bool settled(const FirstBlock &part, const Results &results, int count, int timeoutMs)
    {
        if (!waitUntil([&] { return results.values.size() >= count && !part.isUnderWay(); },
                       timeoutMs))
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return part.findChildren<QThread *>().isEmpty();
    }

    void installProgram(const QString &script)
    {
        QVERIFY(m_tree.writeFile(IMITATION, script));
        QVERIFY(QFile::setPermissions(m_tree.path(IMITATION),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_logger = std::make_unique<Logger>(m_tree.path(QStringLiteral("/tmp/first-block.log")),
                                            Logger::Debug);
    }

    // Asked for again before it came, a pass is still one pass; asked for
    // after, it is a new one.
    void scheduledPassComesOnce()
    {
        FirstBlock part(*m_logger);
        QSignalSpy due(&part, &FirstBlock::due);
        QVERIFY(!part.isUnderWay());
        part.schedule();
        part.schedule();
        QVERIFY(part.isScheduled());
        QVERIFY(part.isUnderWay());
        QVERIFY(due.wait(BOUND_MS));
        QVERIFY(!part.isUnderWay());
        QTest::qWait(5 * FirstBlock::SCHEDULE_DELAY_MSEC);
        QCOMPARE(due.count(), 1);
        part.schedule();
        QVERIFY(due.wait(BOUND_MS));
        QCOMPARE(due.count(), 2);
    }

    // Exact command lines, and every way a run can end.
    void runs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("defaultMode");
        QTest::addColumn<QString>("setup"); // "exit N", "killed", "missing" or "hanging"
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("line"); // empty: not checked

        const QStringList none;
        const QStringList options {QStringLiteral("-o"),
                                   QStringLiteral("Dir::Etc::sourceparts=''")};
        QTest::newRow("no options, policy 0") << none << true << "exit 0" << 0 << "-n -A -T -r";
        QTest::newRow("no options, other policy, failed")
                << none << false << "exit 3" << 3 << "-n -A -T -r -S";
        QTest::newRow("options, policy 0")
                << options << true << "exit 0" << 0 << "-n -A -o Dir::Etc::sourceparts=''";
        QTest::newRow("options, other policy")
                << options << false << "exit 0" << 0 << "-n -A -o Dir::Etc::sourceparts='' -S";
        QTest::newRow("killed by a signal") << none << true << "killed" << -2 << "";
        QTest::newRow("missing program") << none << true << "missing" << -1 << "";
        QTest::newRow("hanging program") << none << true << "hanging" << -1 << "";
    }

    void runs()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, defaultMode);
        QFETCH(QString, setup);
        QFETCH(int, result);
        QFETCH(QString, line);

        if (setup == QLatin1String("killed")) {
            installProgram(QStringLiteral("#!/bin/sh\nkill -KILL $$\n"));
        } else if (setup != QLatin1String("missing")) {
            QVERIFY(m_tree.installStandIn(IMITATION));
            if (setup == QLatin1String("hanging"))
                QVERIFY(m_tree.setStandInDelay(IMITATION_NAME, 30));
            else
                QVERIFY(m_tree.setStandInExitCode(IMITATION_NAME, setup.mid(5).toInt()));
        }

        FirstBlock part(*m_logger);
        part.setImitationTimeoutMs(SHORT_TIMEOUT_MS);
        Results results;
        collect(part, &results);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(part.startImitation(args, defaultMode));
        QVERIFY(settled(part, results, 1, BOUND_MS));
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(results.values, QVector<int> {result});
        QVERIFY(results.allOnMainThread);
        if (!line.isEmpty())
            QCOMPARE(m_tree.standInCalls(IMITATION_NAME), QStringList {line});
    }

    // A second imitation while one runs would give two results for one
    // pass; once it has ended, the next starts and everything is released.
    void oneImitationAtATime()
    {
        QVERIFY(m_tree.installStandIn(IMITATION));
        QVERIFY(m_tree.setStandInExitCode(IMITATION_NAME, 4));
        QVERIFY(m_tree.setStandInDelay(IMITATION_NAME, 0.5));
        FirstBlock part(*m_logger);
        Results results;
        collect(part, &results);
        const int rounds = 3;
        for (int round = 1; round <= rounds; ++round) {
            QVERIFY(part.startImitation({}, true));
            QVERIFY(part.isImitating());
            QVERIFY(!part.startImitation({}, false));
            QVERIFY(settled(part, results, round, BOUND_MS));
        }
        QCOMPARE(results.values, QVector<int>(rounds, 4));
        QVERIFY(results.allOnMainThread);
        QCOMPARE(m_tree.standInCalls(IMITATION_NAME),
                 QVector<QString>(rounds, QStringLiteral("-n -A -T -r")).toList());
    }

    // The daemon may go (a lost bus, a stop) while its imitation runs: the
    // part waits for it rather than destroy a running thread.
    void goesWhileImitating()
    {
        QVERIFY(m_tree.installStandIn(IMITATION));
        QVERIFY(m_tree.setStandInDelay(IMITATION_NAME, 0.3));
        auto part = std::make_unique<FirstBlock>(*m_logger);
        Results results;
        collect(*part, &results);
        QVERIFY(part->startImitation({}, true));
        QVERIFY(waitUntil([&] { return !m_tree.standInCalls(IMITATION_NAME).isEmpty(); },
                          BOUND_MS));
        part.reset();
        QCoreApplication::sendPostedEvents();
        QVERIFY(results.values.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFirstBlock)
#include "tst_firstblock.moc"
