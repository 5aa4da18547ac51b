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
// detached run, which process counts as that run, and the hold that keeps a
// due download back.

class TestDownload : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString at(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    int logCount(const QString &text) const
    {
        QFile file(at("log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).count(text) : 0;
    }

    // The stage program as a shell script, or none at all for an empty
    // one; "-x" for a script nobody may execute.
    bool placeProgram(const QString &script) const
    {
        QFile program(at("stage"));
        if (script.isEmpty())
            return !program.exists() || program.remove();
        const QFile::Permissions readWrite = QFile::ReadOwner | QFile::WriteOwner;
        return program.open(QIODevice::WriteOnly | QIODevice::Truncate)
               && program.write("#!/bin/sh\n" + script.toUtf8() + '\n') > 0
               && program.setPermissions(
                       script == QLatin1String("-x") ? readWrite : readWrite | QFile::ExeOwner);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(at("log"));
        QVERIFY(placeProgram(QString()));
    }

    // The program for each start in turn (empty: not there), then what the
    // poll finds at once and once the last run is over.
    void poll_data()
    {
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<QString>("reason"); // of the last failed start
        QTest::addColumn<int>("firstPoll");
        QTest::addColumn<int>("finalPoll");

        const int noRun = int(Download::Poll::NoRun);
        const int running = int(Download::Poll::Running);
        const int ended = int(Download::Poll::Ended);
        const QString missing = QString::fromLocal8Bit(std::strerror(ENOENT));
        QTest::newRow("nothing started") << QStringList() << QString() << noRun << noRun;
        QTest::newRow("runs, then ends")
                << QStringList {"sleep 0.3"} << QString() << running << ended;
        QTest::newRow("program missing") << QStringList {""} << missing << noRun << noRun;
        QTest::newRow("program not executable")
                << QStringList {"-x"} << QString::fromLocal8Bit(std::strerror(EACCES)) << noRun
                << noRun;
        // Judging the run before would pass a download that never started
        // for a finished one.
        QTest::newRow("a failed start forgets the run before")
                << QStringList {"exit 0", ""} << missing << noRun << noRun;
        QTest::newRow("a new run after a failed one")
                << QStringList {"", "sleep 0.3"} << missing << running << ended;
    }

    void poll()
    {
        QFETCH(QStringList, programs);
        QFETCH(QString, reason);
        QFETCH(int, firstPoll);
        QFETCH(int, finalPoll);
        const Logger logger(at("log"), Logger::Debug);
        Download download(logger, at("stage"));
        QString lastFailure;
        for (const QString &script : programs) {
            QVERIFY(placeProgram(script));
            const QString failure = download.start(
                    {QStringLiteral("download"), QStringLiteral("1")}, QStringLiteral("test"));
            QCOMPARE(failure.isEmpty(), !script.isEmpty() && script != QLatin1String("-x"));
            if (!failure.isEmpty())
                lastFailure = failure;
            QCOMPARE(download.isPolling(), failure.isEmpty());
            QCOMPARE(download.run().pid > 0, failure.isEmpty());
        }
        // A failure names the run and the system's reason.
        QCOMPARE(lastFailure, reason.isEmpty()
                                      ? QString()
                                      : at("stage") + QStringLiteral(" download 1: ") + reason);

        QCOMPARE(int(download.poll(QStringLiteral("test"))), firstPoll);
        KIRTA_WAIT_VERIFY(download.poll(QStringLiteral("test")) != Download::Poll::Running, 10000);
        QCOMPARE(int(download.poll(QStringLiteral("test"))), finalPoll);
        QVERIFY(!download.isPolling());
        QVERIFY(!download.isRunning());
        QCOMPARE(logCount(QStringLiteral("test: m_pid <= 0")) > 0,
                 finalPoll == int(Download::Poll::NoRun));
    }

    // Which process counts as the run that was started.
    void identity_data()
    {
        QTest::addColumn<QString>("process");
        QTest::addColumn<bool>("alive");

        QTest::newRow("our run, going") << "own" << true;
        QTest::newRow("our run, ended") << "ended" << false;
        // A later process that got the id: another start time.
        QTest::newRow("id taken over") << "restarted" << false;
        // Another user's process, even one called like the stage program.
        QTest::newRow("another user's process") << "foreign" << false;
        QTest::newRow("no process") << "none" << false;
    }

    void identity()
    {
        QFETCH(QString, process);
        QFETCH(bool, alive);
        QProcess child;
        const auto stop = qScopeGuard([&child] {
            child.kill();
            child.waitForFinished(5000);
        });
        if (process == QLatin1String("foreign"))
            child.start(QStringLiteral("setpriv"),
                        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                         QStringLiteral("--clear-groups"), QStringLiteral("sh"),
                         QStringLiteral("-c"),
                         QStringLiteral("printf kirta-update-se >/proc/$$/comm; "
                                        "while :; do sleep 1; done")});
        else if (process != QLatin1String("none"))
            child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        DetachedRun run;
        if (process != QLatin1String("none")) {
            QVERIFY(child.waitForStarted(5000));
            // setpriv hands over to the shell under the other user.
            const QString comm = QStringLiteral("/proc/%1/comm").arg(child.processId());
            const auto renamed = [&comm] {
                QFile file(comm);
                return file.open(QIODevice::ReadOnly) && file.readAll() == "kirta-update-se\n";
            };
            KIRTA_WAIT_VERIFY(process != QLatin1String("foreign") || renamed(), 5000);
            run = DetachedRun::of(child.processId());
            QVERIFY(run.startTime != 0);
        }
        if (process == QLatin1String("ended")) {
            child.kill();
            QVERIFY(child.waitForFinished(5000));
        } else if (process == QLatin1String("restarted")) {
            run.startTime += 1;
        }
        QCOMPARE(run.isAlive(), alive);
    }

    // Steps: "hold:REASON", "lift", "due" (a download falls due), "due!" (one
    // due in forced mode or past the deadline).
    void hold_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("heldBack"); // one letter per due: y held, n let go
        QTest::addColumn<int>("asked"); // how often the override was asked
        QTest::addColumn<int>("lifted");
        QTest::addColumn<int>("heldLines");

        QTest::newRow("no hold") << QStringList {"due", "due!"} << "nn" << 0 << 0 << 0;
        QTest::newRow("held, logged once, started when lifted")
                << QStringList {"hold:metered link", "due", "due", "lift"} << "yy" << 2 << 1 << 1;
        QTest::newRow("forced goes through")
                << QStringList {"hold:metered link", "due!", "lift"} << "n" << 1 << 0 << 0;
        QTest::newRow("forced after a held one: nothing waits any more")
                << QStringList {"hold:metered link", "due", "due!", "lift"} << "yn" << 2 << 0 << 1;
        QTest::newRow("lifted with nothing due")
                << QStringList {"hold:metered link", "lift", "due"} << "n" << 0 << 0 << 0;
        QTest::newRow("the same hold again changes nothing")
                << QStringList {"hold:metered link", "due", "hold:metered link", "due", "lift"}
                << "yy" << 2 << 1 << 1;
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
            if (step.startsWith(QLatin1String("hold:"))) {
                download.setHold(step.mid(5));
                QCOMPARE(download.hold(), step.mid(5));
            } else if (step == QLatin1String("lift")) {
                download.setHold(QString());
            } else {
                const bool forced = step.endsWith(QLatin1Char('!'));
                const bool waits = download.holdsBack([&] {
                    ++askedCount;
                    return forced;
                });
                held += waits ? QLatin1Char('y') : QLatin1Char('n');
            }
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
