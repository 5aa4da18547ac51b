// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logger.h"
#include "majorrelease.h"
#include "sandbox.h"

#include <QtTest>

namespace {
const QString REPORT = QStringLiteral("/var/cache/kirta-upgrade/upgrade.report.yaml");
const QString DPKG_QUERY = QStringLiteral("/usr/bin/dpkg-query");
const QString LOG = QStringLiteral("/var/log/test.log");
} // namespace

// The major-release part through its own interface: when it watches the
// tool's report, and what it reads from it.
class TestMajorRelease : public QObject
{
    Q_OBJECT

    SandboxTree tree;

    int logCount(const QString &text) const { return tree.readFile(LOG).count(text); }

private Q_SLOTS:
    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.installStandIn(DPKG_QUERY));
        QVERIFY(tree.mkpath(QStringLiteral("/var/log")));
    }

    // What the package database answers at each check in turn: 'y' the tool
    // is installed, 'n' it is not, 'x' dpkg-query cannot run.
    void installation_data()
    {
        QTest::addColumn<QString>("answers");
        QTest::addColumn<bool>("watching");
        // The line an administrator sees after the tool was once seen.
        QTest::addColumn<int>("stopLines");
        QTest::newRow("never installed") << "nn" << false << 0;
        QTest::newRow("installed") << "y" << true << 0;
        QTest::newRow("asked again while installed") << "yy" << true << 0;
        QTest::newRow("removed") << "yn" << false << 1;
        QTest::newRow("still gone") << "ynn" << false << 2;
        QTest::newRow("installed again") << "yny" << true << 1;
        QTest::newRow("package tool gone") << "yx" << false << 1;
    }

    void installation()
    {
        QFETCH(QString, answers);
        QFETCH(bool, watching);
        QFETCH(int, stopLines);
        const Logger logger(tree.path(LOG), Logger::Debug);
        MajorRelease major(logger);
        QVERIFY(!major.isWatchingInstallation());
        major.watchInstallation();
        QVERIFY(major.isWatchingInstallation());
        for (const QChar answer : answers) {
            const bool installed = answer == QLatin1Char('y');
            if (answer == QLatin1Char('x'))
                QVERIFY(QFile::remove(tree.path(DPKG_QUERY)));
            QVERIFY(tree.writeFile(QStringLiteral("/standin/dpkg-query.output"),
                                   installed ? QStringLiteral("ii  kirta-upgrade:amd64 1.0\n")
                                             : QStringLiteral("rc  kirta-upgrade 1.0\n")));
            QCOMPARE(major.followInstallation(QStringLiteral("test")), installed);
        }
        QCOMPARE(major.isWatchingReport(), watching);
        QCOMPARE(logCount(QStringLiteral("test: m_checkMajorReportTimer != nullptr")), stopLines);
    }

    void readReport_data()
    {
        QTest::addColumn<QString>("report"); // null: no report file
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("failed");
        const int unreadable = toInt(MajorReportMode::Unreadable);
        QTest::newRow("no report") << QString() << unreadable << false;
        QTest::newRow("nothing pending") << "upgrade_mode: 0\n"
                                         << toInt(MajorReportMode::NothingPending) << false;
        QTest::newRow("prepared") << "upgrade_mode: 3\n"
                                  << toInt(MajorReportMode::Prepared) << false;
        QTest::newRow("prepared outweighs forced") << "upgrade_mode: 3\nforced: yes\n"
                                                   << toInt(MajorReportMode::Prepared) << false;
        QTest::newRow("armed") << "upgrade_mode: 4\n" << toInt(MajorReportMode::Armed) << false;
        QTest::newRow("forced") << "upgrade_mode: 4\nforced: true\n"
                                << toInt(MajorReportMode::Forced) << false;
        QTest::newRow("no mode") << "something: else\n" << unreadable << true;
        QTest::newRow("mode not a number") << "upgrade_mode: soon\n" << unreadable << true;
        QTest::newRow("not yaml") << "{{{{ not yaml" << unreadable << true;
        QTest::newRow("empty") << "" << unreadable << true;
    }

    void readReport()
    {
        QFETCH(QString, report);
        QFETCH(int, mode);
        QFETCH(bool, failed);
        if (!report.isNull())
            QVERIFY(tree.writeFile(REPORT, report));
        const Logger logger(tree.path(LOG), Logger::Debug);
        const MajorRelease major(logger);
        QCOMPARE(major.hasReport(), !report.isNull());
        const StepOutcome<MajorReportMode> outcome = major.readReport(QStringLiteral("test"));
        QCOMPARE(toInt(outcome.code), mode);
        QCOMPARE(!outcome.failure.isEmpty(), failed);
        if (failed)
            QVERIFY2(outcome.failure.startsWith(tree.path(REPORT) + QStringLiteral(": ")),
                     qPrintable(outcome.failure));
        QCOMPARE(logCount(QStringLiteral("test: key 'upgrade_mode' is not found")), failed ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestMajorRelease)
#include "tst_majorrelease.moc"
