// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "download.h"
#include "logger.h"
#include "waituntil.h"

#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <cstring>

// The download part through its own interface: what its poll tells of a
// detached run, which process counts as that run, the hold on a due download.

class TestDownload : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString at(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    int logCount(const QString &text) const
    {
        QFile file(at("log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).count(text) : 0;
    }

private Q_SLOTS:
    void init() { QFile::remove(at("log")); }

    // The stage program for each start in turn ("" none, "-x" not
    // executable, else a script); what a poll finds at once and in the end.
    void poll_data()
    {
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<int>("errorNumber"); // of the last failed start
        QTest::addColumn<int>("firstPoll");
        QTest::addColumn<int>("finalPoll");
        const int noRun = int(Download::Poll::NoRun);
        const int running = int(Download::Poll::Running);
        const int ended = int(Download::Poll::Ended);
        QTest::newRow("nothing started") << QStringList() << 0 << noRun << noRun;
        QTest::newRow("runs, then ends") << QStringList {"sleep 0.3"} << 0 << running << ended;
        QTest::newRow("program missing") << QStringList {""} << ENOENT << noRun << noRun;
        QTest::newRow("not executable") << QStringList {"-x"} << EACCES << noRun << noRun;
        // Judging the run before would pass a start that failed for a
        // finished download.
        QTest::newRow("a failed start forgets the run before")
                << QStringList {"exit 0", ""} << ENOENT << noRun << noRun;
    }

    void poll()
    {
        QFETCH(QStringList, programs);
        QFETCH(int, errorNumber);
        QFETCH(int, firstPoll);
        QFETCH(int, finalPoll);
        const QString where = QStringLiteral("test");
        const Logger logger(at("log"), Logger::Debug);
        Download download(logger, at("stage"));
        QString failure;
        for (const QString &script : programs) {
            QFile program(at("stage"));
            program.remove();
            if (!script.isEmpty()) {
                QVERIFY(program.open(QIODevice::WriteOnly));
                program.write("#!/bin/sh\n" + script.toUtf8() + '\n');
                program.close();
                QVERIFY(script == QLatin1String("-x")
                        || program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
            }
            failure = download.start({QStringLiteral("download"), QStringLiteral("1")}, where);
            QCOMPARE(download.isPolling(), failure.isEmpty());
            QCOMPARE(download.run().pid > 0, failure.isEmpty());
        }
        // A failure names the run and the system's reason.
        QCOMPARE(failure, errorNumber == 0
                                  ? QString()
                                  : at("stage") + QStringLiteral(" download 1: ")
                                            + QString::fromLocal8Bit(std::strerror(errorNumber)));
        QCOMPARE(int(download.poll(where)), firstPoll);
        KIRTA_WAIT_VERIFY(download.poll(where) != Download::Poll::Running, 10000);
        QCOMPARE(int(download.poll(where)), finalPoll);
        QVERIFY(!download.isPolling() && !download.isRunning());
        QCOMPARE(logCount(QStringLiteral("test: m_pid <= 0")) > 0,
                 finalPoll == int(Download::Poll::NoRun));
    }

    // Which process counts as the run: the id alone names whoever holds it.
    void identity_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<bool>("laterProcess"); // another start time under the same id
        QTest::addColumn<bool>("alive");
        QTest::newRow("our run") << QStringList {"sleep", "30"} << false << true;
        QTest::newRow("id taken over") << QStringList {"sleep", "30"} << true << false;
        QTest::newRow("another user's process")
                << QStringList {"setpriv",        "--reuid=65534", "--regid=65534",
                                "--clear-groups", "sleep",         "30"}
                << false << false;
    }

    void identity()
    {
        QFETCH(QStringList, command);
        QFETCH(bool, laterProcess);
        QFETCH(bool, alive);
        QProcess child;
        child.start(command.takeFirst(), command);
        const auto stop = qScopeGuard([&child] {
            child.kill();
            child.waitForFinished(5000);
        });
        QVERIFY(child.waitForStarted(5000));
        // setpriv becomes sleep under the other user: its own start time.
        KIRTA_WAIT_VERIFY(
                QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child.processId()))
                        .endsWith(QLatin1String("/sleep")),
                5000);
        DetachedRun run = DetachedRun::of(child.processId());
        QVERIFY(run.startTime != 0);
        run.startTime += laterProcess ? 1 : 0;
        QCOMPARE(run.isAlive(), alive);
    }

    // Steps: "hold:REASON", "lift", "due", "due!" (due in forced mode or
    // past the deadline, which the hold gives way to).
    void hold_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("heldBack"); // per due: y held, n let go
        QTest::addColumn<int>("asked"); // how often the override was asked
        QTest::addColumn<int>("lifted");
        QTest::addColumn<int>("heldLines");
        const QString hold = QStringLiteral("hold:metered link");
        QTest::newRow("no hold") << QStringList {"due", "due!"} << "nn" << 0 << 0 << 0;
        QTest::newRow("held, logged once, started when lifted")
                << QStringList {hold, "due", "due", hold, "lift"} << "yy" << 2 << 1 << 1;
        QTest::newRow("forced goes through")
                << QStringList {hold, "due!", "lift"} << "n" << 1 << 0 << 0;
        QTest::newRow("forced after a held one: nothing waits")
                << QStringList {hold, "due", "due!", "lift"} << "yn" << 2 << 0 << 1;
        QTest::newRow("lifted with nothing due")
                << QStringList {hold, "lift", "due"} << "n" << 0 << 0 << 0;
    }

    void hold()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, heldBack);
        QFETCH(int, asked);
        QFETCH(int, lifted);
        QFETCH(int, heldLines);
        const Logger logger(at("log"), Logger::Debug);
        Download download(logger, at("stage"));
        QSignalSpy liftedSpy(&download, &Download::holdLifted);
        QString held;
        int askedCount = 0;
        for (const QString &step : steps) {
            if (step.startsWith(QLatin1String("hold:")) || step == QLatin1String("lift"))
                download.setHold(step.mid(5));
            else
                held += download.holdsBack([&] { return ++askedCount, step == "due!"; }) ? 'y'
                                                                                         : 'n';
        }
        QCOMPARE(held, heldBack);
        QCOMPARE(askedCount, asked);
        QCOMPARE(liftedSpy.count(), lifted);
        QCOMPARE(logCount(QStringLiteral("Download held back: metered link")), heldLines);
        QCOMPARE(logCount(QStringLiteral("Download no longer held back")), lifted);
    }
};

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
