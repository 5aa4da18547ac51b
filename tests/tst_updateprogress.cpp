// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logger.h"
#include "updateprogress.h"

#include <QtTest>

// The owner of the update's progress: which moves of the task it takes and
// which it refuses (in every build), what it logs for each, and that a
// refused move leaves the whole value as it was.

namespace {
using Path = QList<int>;

const CurrentTask U = CurrentTask::Unknown;
const CurrentTask C = CurrentTask::WaitingForConnection;
const CurrentTask W = CurrentTask::WaitingForUpdates;
const CurrentTask WD = CurrentTask::WaitingForDownload;
const CurrentTask D = CurrentTask::Downloading;
const CurrentTask DC = CurrentTask::DownloadCompleted;
const CurrentTask E = CurrentTask::Error;
const CurrentTask S = CurrentTask::Stopped;
const CurrentTask SM = CurrentTask::StoppedForMajor;

Path path(std::initializer_list<CurrentTask> tasks)
{
    Path result;
    for (CurrentTask task : tasks)
        result << toInt(task);
    return result;
}

const QString WHERE = QStringLiteral("void Daemon::setTask(CurrentTask)");
} // namespace

class TestUpdateProgress : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logPath;

    QStringList logLines() const
    {
        QFile file(m_logPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        return lines;
    }

    // Walks `before` move by move; every one of those must be taken.
    static void walk(UpdateProgress &progress, const Path &before)
    {
        for (int task : before)
            QVERIFY2(progress.moveTo(CurrentTask(task), WHERE), qPrintable(QString::number(task)));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_logPath = m_dir.filePath(QStringLiteral("service.log"));
        QFile::remove(m_logPath);
    }

    void moves_data()
    {
        QTest::addColumn<Path>("before");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("taken");

        // Taken: the cycle's own moves.
        QTest::newRow("first check finds nothing") << Path() << toInt(W) << true;
        QTest::newRow("first ping fails") << Path() << toInt(C) << true;
        QTest::newRow("connection back at the first check") << path({C}) << toInt(U) << true;
        QTest::newRow("new packages") << path({W}) << toInt(WD) << true;
        QTest::newRow("download starts") << path({W, WD}) << toInt(D) << true;
        QTest::newRow("forced download from no-updates") << path({W}) << toInt(D) << true;
        QTest::newRow("download completes") << path({W, WD, D}) << toInt(DC) << true;
        QTest::newRow("clean fails") << path({W, WD, D, DC}) << toInt(E) << true;
        QTest::newRow("stop after the clean") << path({W}) << toInt(S) << true;
        QTest::newRow("stop after a failed clean") << path({E}) << toInt(S) << true;
        QTest::newRow("major stop after the clean") << path({W}) << toInt(SM) << true;
        QTest::newRow("resume from a stop") << path({W, S}) << toInt(W) << true;
        QTest::newRow("ping fails while stopped") << path({W, S}) << toInt(C) << true;

        // Refused: moves no part of the cycle makes.
        QTest::newRow("back to unknown from no-updates") << path({W}) << toInt(U) << false;
        QTest::newRow("download result after a stop") << path({W, S}) << toInt(WD) << false;
        QTest::newRow("completed after a stop") << path({W, S}) << toInt(DC) << false;
        QTest::newRow("completed after a major stop") << path({W, SM}) << toInt(DC) << false;
        QTest::newRow("stop without the clean") << path({W, WD, D}) << toInt(S) << false;
        QTest::newRow("major stop without the clean") << path({W, WD}) << toInt(SM) << false;
        QTest::newRow("stop from completed") << path({W, WD, D, DC}) << toInt(S) << false;
        QTest::newRow("above the last task") << path({W}) << toInt(SM) + 1 << false;
        QTest::newRow("below the first task") << path({W}) << -1 << false;
    }

    void moves()
    {
        QFETCH(Path, before);
        QFETCH(int, to);
        QFETCH(bool, taken);

        Logger logger(m_logPath, Logger::Debug);
        UpdateProgress progress(logger);
        walk(progress, before);
        const int from = progress.task();
        const int linesBefore = logLines().size();

        // The whole value is proposed: on a refusal none of it may stick.
        Progress next = progress.value();
        next.task = to;
        next.armed = true;
        next.error = toInt(ErrorNumber::Imitation);
        QCOMPARE(progress.set(next, WHERE), taken);

        const QStringList added = logLines().mid(linesBefore);
        QCOMPARE(added.size(), 1);
        if (taken) {
            QCOMPARE(progress.task(), to);
            QVERIFY(progress.isArmed());
            QCOMPARE(progress.error(), toInt(ErrorNumber::Imitation));
            QVERIFY2(added.first().endsWith(QStringLiteral(" DEBUG %1: task %2 -> %3")
                                                    .arg(WHERE)
                                                    .arg(from)
                                                    .arg(to)),
                     qPrintable(added.first()));
        } else {
            QCOMPARE(progress.task(), from);
            QVERIFY(!progress.isArmed());
            QCOMPARE(progress.error(), toInt(ErrorNumber::None));
            QVERIFY2(added.first().contains(QStringLiteral(" WARNING ")),
                     qPrintable(added.first()));
            QVERIFY2(added.first().contains(QStringLiteral("task %1 -> %2").arg(from).arg(to)),
                     qPrintable(added.first()));
        }
    }

    // Refusals must hold at any log level: the check is no debug aid.
    void refusalHoldsAtErrorLevel()
    {
        Logger logger(m_logPath, Logger::Error);
        UpdateProgress progress(logger);
        walk(progress, path({W, S}));
        QVERIFY(!progress.moveTo(DC, WHERE));
        QCOMPARE(progress.task(), toInt(S));
        QVERIFY(logLines().isEmpty());
    }

    void connectionWaitReturnsWhereItBegan_data()
    {
        QTest::addColumn<Path>("before");
        QTest::addColumn<int>("interrupted");

        QTest::newRow("first check") << Path() << toInt(U);
        QTest::newRow("no-updates") << path({W}) << toInt(W);
        QTest::newRow("wait for download") << path({W, WD}) << toInt(WD);
        QTest::newRow("stopped") << path({W, S}) << toInt(S);
        QTest::newRow("major stop") << path({W, SM}) << toInt(SM);
    }

    void connectionWaitReturnsWhereItBegan()
    {
        QFETCH(Path, before);
        QFETCH(int, interrupted);

        Logger logger(m_logPath, Logger::Debug);
        UpdateProgress progress(logger);
        walk(progress, before);
        QVERIFY(progress.moveTo(C, WHERE));
        QCOMPARE(progress.value().returnTask, interrupted);
        // A second failed ping inside the wait does not forget the task.
        QVERIFY(progress.moveTo(C, WHERE));
        QCOMPARE(progress.value().returnTask, interrupted);
        QVERIFY(progress.moveTo(CurrentTask(progress.value().returnTask), WHERE));
        QCOMPARE(progress.task(), interrupted);
    }

    void fieldsChangeWithoutMovingOrLogging()
    {
        Logger logger(m_logPath, Logger::Debug);
        UpdateProgress progress(logger);
        walk(progress, path({W, WD}));
        const int lines = logLines().size();

        progress.setArmed(true);
        progress.setForced(true);
        progress.setError(ErrorNumber::FreeSpace);
        progress.setFirstBlockPassed(true);
        progress.setArmWhenComplete(true);
        progress.setLogicalTask(CurrentTask::WaitingForDownload);
        progress.setResetRecheckRunning(true);

        Progress expected;
        expected.task = toInt(WD);
        expected.armed = true;
        expected.forced = true;
        expected.error = toInt(ErrorNumber::FreeSpace);
        expected.firstBlockPassed = true;
        expected.armWhenComplete = true;
        expected.logicalTask = toInt(WD);
        expected.resetRecheckRunning = true;
        QVERIFY(progress.value() == expected);
        QCOMPARE(logLines().size(), lines);
        // Staying in a task is no move.
        QVERIFY(progress.moveTo(WD, WHERE));
        QCOMPARE(logLines().size(), lines);
    }
};

QTEST_GUILESS_MAIN(TestUpdateProgress)
#include "tst_updateprogress.moc"
