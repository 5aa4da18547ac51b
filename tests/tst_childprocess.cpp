// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "childprocess.h"
#include "processinfo.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
const int BOUND_MS = 10000;
} // namespace

// The one child runner: how runs end, and that ending a run ends all it
// started.
class TestChildProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endings_data()
    {
        QTest::addColumn<QString>("script"); // empty: a program that does not exist
        QTest::addColumn<bool>("leave");
        QTest::addColumn<ChildProcess::Ending>("ending");
        using E = ChildProcess::Ending;
        QTest::newRow("exits") << "echo x; exit 3" << false << E::Exited;
        QTest::newRow("crashes") << "echo x; kill -SEGV $$" << false << E::Crashed;
        QTest::newRow("missing") << "" << false << E::FailedToStart;
        QTest::newRow("hangs") << "sleep 30 & echo $!; wait" << false << E::TimedOutTerminated;
        QTest::newRow("child ignores SIGTERM")
                << "(trap '' TERM; exec sleep 30) & echo $!; wait" << false << E::TimedOutKilled;
        QTest::newRow("left going, ended later")
                << "sleep 30 & echo $!; wait" << true << E::TimedOutTerminated;
    }

    void endings()
    {
        QFETCH(QString, script);
        QFETCH(bool, leave);
        QFETCH(ChildProcess::Ending, ending);
        ChildProcess process;
        process.setGraceMs(1000);
        process.setProgram(script.isEmpty() ? QStringLiteral("/nonexistent/program")
                                            : QStringLiteral("sh"));
        process.setArguments({QStringLiteral("-c"), script});
        QElapsedTimer elapsed;
        elapsed.start();
        const auto overrun = leave ? ChildProcess::Overrun::Leave : ChildProcess::Overrun::End;
        ChildProcess::Ending result = process.run(500, overrun);
        if (leave) {
            QCOMPARE(result, ChildProcess::Ending::Running);
            QCOMPARE(process.state(), QProcess::Running);
            result = process.end();
        }
        QCOMPARE(result, ending);
        QCOMPARE(process.ending(), ending);
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(process.state(), QProcess::NotRunning);
        if (ending == ChildProcess::Ending::Exited)
            QCOMPARE(process.exitCode(), 3);
        // Whatever the run started is gone with it.
        const qint64 child = process.readAllStandardOutput().trimmed().toLongLong();
        if (child > 0) {
            QVERIFY(!ProcessInfo::of(child).isAlive());
            QVERIFY(!ProcessInfo::groupAlive(process.processGroup()));
        }
    }
};

QTEST_GUILESS_MAIN(TestChildProcess)
#include "tst_childprocess.moc"
