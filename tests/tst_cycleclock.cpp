// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "cycleclock.h"
#include "logger.h"

#include <QSignalSpy>
#include <QtTest>

// The update cycle's clock through its own interface: the life of the stamp
// watches (a halt survives, a drop forgets, a retune keeps it running), the
// signal each timer gives, the single shot of the download delay, and the
// bounds put on intervals with the warning an administrator reads.

Q_DECLARE_METATYPE(CycleClock::Watch)

using std::chrono::minutes;

class TestCycleClock : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logPath;

    QStringList warnings() const
    {
        QFile file(m_logPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList found;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
            if (line.contains(QLatin1String(" WARNING ")))
                found << line;
        return found;
    }

    static const char *dueSignal(CycleClock::Watch watch)
    {
        return watch == CycleClock::Watch::Deadline ? SIGNAL(deadlineCheckDue())
                                                    : SIGNAL(retryCheckDue());
    }
    static const char *otherSignal(CycleClock::Watch watch)
    {
        return watch == CycleClock::Watch::Deadline ? SIGNAL(retryCheckDue())
                                                    : SIGNAL(deadlineCheckDue());
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_logPath = m_dir.filePath(QStringLiteral("service.log"));
        QFile::remove(m_logPath);
    }

    void watchLife_data()
    {
        QTest::addColumn<CycleClock::Watch>("watch");
        QTest::newRow("deadline") << CycleClock::Watch::Deadline;
        QTest::newRow("retry") << CycleClock::Watch::Retry;
    }

    void watchLife()
    {
        QFETCH(CycleClock::Watch, watch);
        const Logger logger(m_logPath, Logger::Debug);
        CycleClock clock(logger);
        const CycleClock::Watch other = watch == CycleClock::Watch::Deadline
                                                ? CycleClock::Watch::Retry
                                                : CycleClock::Watch::Deadline;

        QVERIFY(!clock.hasWatch(watch));
        clock.startWatch(watch, minutes(5));
        QVERIFY(clock.isWatchRunning(watch));
        QVERIFY(!clock.hasWatch(other));
        QCOMPARE(clock.watchTimer(watch)->interval(), 5 * 60000);

        // A halted watch stays, so that a load does not revive it.
        clock.haltWatch(watch);
        QVERIFY(clock.hasWatch(watch));
        QVERIFY(!clock.isWatchRunning(watch));

        // Started again it keeps the interval it was made with.
        clock.startWatch(watch, minutes(7));
        QVERIFY(clock.isWatchRunning(watch));
        QCOMPARE(clock.watchTimer(watch)->interval(), 5 * 60000);

        clock.retuneWatch(watch, minutes(9));
        QVERIFY(clock.isWatchRunning(watch));
        QCOMPARE(clock.watchTimer(watch)->interval(), 9 * 60000);

        // Dropped, the next start makes it anew with the minutes it is given.
        clock.dropWatch(watch);
        QVERIFY(!clock.hasWatch(watch));
        QVERIFY(clock.watchTimer(watch) == nullptr);
        clock.startWatch(watch, minutes(2));
        QCOMPARE(clock.watchTimer(watch)->interval(), 2 * 60000);

        // Each watch gives its own signal, and repeats.
        QSignalSpy due(&clock, dueSignal(watch));
        QSignalSpy wrong(&clock, otherSignal(watch));
        clock.watchTimer(watch)->setInterval(10);
        QTRY_VERIFY_WITH_TIMEOUT(due.count() >= 2, 5000);
        QCOMPARE(wrong.count(), 0);
        QVERIFY(warnings().isEmpty());
    }

    void downloadDelayIsOneShot()
    {
        const Logger logger(m_logPath, Logger::Debug);
        CycleClock clock(logger);
        QVERIFY(!clock.hasDownloadDelay());
        QVERIFY(!clock.isDownloadDelayRunning());
        clock.stopDownloadDelay();

        QSignalSpy due(&clock, &CycleClock::downloadDue);
        QSignalSpy watches(&clock, &CycleClock::deadlineCheckDue);
        clock.setDownloadDelay(minutes::zero());
        QVERIFY(clock.hasDownloadDelay());
        QVERIFY(!clock.isDownloadDelayRunning());
        clock.startDownloadDelay();
        QVERIFY(clock.isDownloadDelayRunning());
        QVERIFY(due.wait(5000));
        QVERIFY(!clock.isDownloadDelayRunning());
        // Had it repeated, a delay of 0 would have fired again by now.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(due.count(), 1);
        QCOMPARE(watches.count(), 0);

        clock.startDownloadDelay();
        clock.stopDownloadDelay();
        QVERIFY(!clock.isDownloadDelayRunning());
    }

    void bounds_data()
    {
        QTest::addColumn<int>("which"); // 0 download delay, 1 deadline watch
        QTest::addColumn<qint64>("count");
        QTest::addColumn<int>("msec");
        QTest::addColumn<QString>("warning");

        QTest::newRow("download 0") << 0 << qint64(0) << 0 << QString();
        QTest::newRow("download 120") << 0 << qint64(120) << 120 * 60000 << QString();
        QTest::newRow("download too long")
                << 0 << qint64(40000) << std::numeric_limits<int>::max()
                << QStringLiteral("T_download_max = 40000 minutes does not fit a timer, using "
                                  "2147483647 ms");
        QTest::newRow("watch 0 becomes a minute")
                << 1 << qint64(0) << 60000
                << QStringLiteral("T_end_check = 0 minutes is below the minimum, using 1");
        QTest::newRow("watch negative")
                << 1 << qint64(-3) << 60000
                << QStringLiteral("T_end_check = -3 minutes is below the minimum, using 1");
        QTest::newRow("watch too long")
                << 1 << qint64(50000) << std::numeric_limits<int>::max()
                << QStringLiteral("T_end_check = 50000 minutes does not fit a timer, using "
                                  "2147483647 ms");
    }

    void bounds()
    {
        QFETCH(int, which);
        QFETCH(qint64, count);
        QFETCH(int, msec);
        QFETCH(QString, warning);
        const minutes period(count);

        const Logger logger(m_logPath, Logger::Debug);
        CycleClock clock(logger);
        QTimer *timer;
        if (which == 0) {
            clock.setDownloadDelay(period);
            timer = clock.downloadDelayTimer();
        } else {
            clock.startWatch(CycleClock::Watch::Deadline, period);
            timer = clock.watchTimer(CycleClock::Watch::Deadline);
        }
        QVERIFY(timer);
        QCOMPARE(timer->interval(), msec);
        const QStringList logged = warnings();
        if (warning.isEmpty()) {
            QVERIFY2(logged.isEmpty(), qPrintable(logged.join(QLatin1Char('\n'))));
        } else {
            QCOMPARE(logged.size(), 1);
            QVERIFY2(logged.first().endsWith(QStringLiteral(" WARNING ") + warning),
                     qPrintable(logged.first()));
        }
    }

    void drawnDelayStaysInsideTheWindow_data()
    {
        QTest::addColumn<int>("minDelay");
        QTest::addColumn<int>("maxDelay");
        QTest::newRow("10 to 120") << 10 << 120;
        QTest::newRow("0 to 1") << 0 << 1;
        QTest::newRow("equal") << 30 << 30;
        QTest::newRow("reversed") << 50 << 20;
    }

    void drawnDelayStaysInsideTheWindow()
    {
        QFETCH(int, minDelay);
        QFETCH(int, maxDelay);
        for (int i = 0; i < 200; ++i) {
            const qint64 delay
                    = CycleClock::drawDownloadDelay(minutes(minDelay), minutes(maxDelay)).count();
            if (minDelay >= maxDelay) {
                QCOMPARE(delay, qint64(maxDelay));
            } else {
                QVERIFY2(delay >= minDelay && delay < maxDelay, qPrintable(QString::number(delay)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCycleClock)
#include "tst_cycleclock.moc"
