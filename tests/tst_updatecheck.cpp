// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "cycleclock.h"
#include "logger.h"
#include "updatecheck.h"

#include <QtTest>

// The update check part through its own interface: which listing counts as
// new packages, the release a candidate version names, the period in the
// unit it is given with the floor of its key (the bounds' arithmetic is the
// clock's, tested there; its starts and stops in the whole cycle).

class TestUpdateCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString logPath() const { return m_dir.filePath(QStringLiteral("log")); }
    QString logText() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private Q_SLOTS:
    void init() { QFile::remove(logPath()); }

    // Steps in turn: "=a b" restores the listing a b (an armed upgrade read
    // back), "-" forgets it, anything else is a check that found that
    // listing; what each check answered, the listing kept in the end.
    void listing_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("kept");
        QTest::newRow("first listing") << QStringList {"a b"} << "1"
                                       << "a b";
        QTest::newRow("same listing again") << QStringList {"a b", "a b"} << "1 0"
                                            << "a b";
        QTest::newRow("changed listing") << QStringList {"a", "a b", "b"} << "1 1 1"
                                         << "b";
        // A listing that could not be read keeps what was found before.
        QTest::newRow("empty listing") << QStringList {"a", ""} << "1 0"
                                       << "a";
        // A dropped update's packages are new again to the next check.
        QTest::newRow("forgotten") << QStringList {"a", "-", "a"} << "1 1"
                                   << "a";
        // Restarting an armed upgrade's download would be a second one.
        QTest::newRow("restored armed listing") << QStringList {"=a b", "a b"} << "0"
                                                << "a b";
    }

    void listing()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, answers);
        QFETCH(QString, kept);
        const QString where = QStringLiteral("Daemon::caller()");
        const Logger logger(logPath(), Logger::Debug);
        UpdateCheck check(logger);
        QStringList got;
        for (const QString &step : steps) {
            const QStringList listing = step.mid(step.startsWith(QLatin1Char('=')) ? 1 : 0)
                                                .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (step == QLatin1String("-"))
                check.forget();
            else if (step.startsWith(QLatin1Char('=')))
                check.restore(QStringLiteral("12.4"), listing);
            else
                got << QString::number(check.takeIfNew(listing, where) ? 1 : 0);
        }
        QCOMPARE(got.join(QLatin1Char(' ')), answers);
        QCOMPARE(check.upgradable(), kept.split(QLatin1Char(' ')));
        // Each answer is logged under the caller's place, where
        // administrators' filters look for it.
        QCOMPARE(logText().count(where + QStringLiteral(": result = ")), got.size());
    }

    void period_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("hours");
        QTest::addColumn<int>("msec");
        QTest::addColumn<QString>("warning");
        QTest::newRow("minutes") << 5 << false << 5 * 60000 << QString();
        QTest::newRow("hours stay hours") << 2 << true << 120 * 60000 << QString();
        QTest::newRow("zero") << 0 << false << 60000
                              << QStringLiteral(
                                         "T_check = 0 minutes is below the minimum, using 1");
    }

    void period()
    {
        QFETCH(int, count);
        QFETCH(bool, hours);
        QFETCH(int, msec);
        QFETCH(QString, warning);
        const Logger logger(logPath(), Logger::Debug);
        const CycleClock clock(logger);
        UpdateCheck check(logger);
        if (hours)
            check.setMinutes(clock, std::chrono::hours(count));
        else
            check.setMinutes(clock, std::chrono::minutes(count));
        QCOMPARE(check.intervalMsec(), msec);
        QVERIFY(!check.isActive());
        if (warning.isEmpty())
            QVERIFY2(!logText().contains(QLatin1String(" WARNING ")), qPrintable(logText()));
        else
            QVERIFY2(logText().contains(QStringLiteral(" WARNING ") + warning + '\n'),
                     qPrintable(logText()));
    }

    void minorRelease_data()
    {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<QString>("release");
        QTest::newRow("build of a release") << "12.4.1.7"
                                            << "12.4.1";
        QTest::newRow("release") << "12.4.1"
                                 << "12.4.1";
        QTest::newRow("hotfix") << "12.4.1.hotfix2"
                                << "12.4.1.hotfix2";
        QTest::newRow("short") << "12.4"
                               << "12.4";
        QTest::newRow("none") << ""
                              << "";
    }

    void minorRelease()
    {
        QFETCH(QString, candidate);
        QFETCH(QString, release);
        QCOMPARE(UpdateCheck::minorRelease(candidate), release);
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
