// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "sandbox.h"
#include "updatestate.h"

#include <QtTest>

using KirtaUpdateState::UpdateState;

namespace {
const char *const STATUS = "/var/cache/kirta-update-service/status";
const char *const REPORT = "/var/cache/kirta-upgrade/upgrade.report.yaml";
// Marks a file that the row leaves absent.
const char *const ABSENT = "<absent>";
} // namespace

class TestUpdateState : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;

    void place(const char *path, const QString &content)
    {
        if (content == QLatin1String(ABSENT))
            QVERIFY(!m_tree.exists(QLatin1String(path)));
        else
            QVERIFY(m_tree.writeFile(QLatin1String(path), content));
    }

private Q_SLOTS:
    void init() { QVERIFY2(m_tree.reset(), qPrintable(m_tree.root())); }

    void filesLieInTheSandbox()
    {
        QCOMPARE(UpdateState::MINOR_FILE, m_tree.path(QLatin1String(STATUS)));
        QCOMPARE(UpdateState::MAJOR_FILE, m_tree.path(QLatin1String(REPORT)));
    }

    void states_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("defined");
        QTest::addColumn<bool>("forced");
        QTest::addColumn<int>("current");

        const QString none = QLatin1String(ABSENT);
        const QString ready = QStringLiteral("[General]\nstatus=ready\ntarget_release=1.2\n");
        const QString activated = QStringLiteral("[General]\nstatus=activated\n");

        QTest::newRow("nothing") << none << none << -1 << false << false << 0;
        QTest::newRow("minor ready") << none << ready << -1 << false << false << 1;
        QTest::newRow("minor activated") << none << activated << -1 << false << false << 1;
        QTest::newRow("minor other word") << none << "[General]\nstatus=downloading\n"
                                          << -1 << false << false << 0;
        QTest::newRow("status outside general group") << none << "[other]\nstatus=ready\n"
                                                      << -1 << false << false << 0;
        QTest::newRow("empty status file") << none << "" << -1 << false << false << 0;

        QTest::newRow("major pending wins over minor") << "upgrade_mode: 3\nforced: false\n"
                                                       << ready << 3 << true << false << 3;
        QTest::newRow("major armed counts as pending") << "upgrade_mode: 4\n"
                                                       << none << 4 << true << false << 3;
        QTest::newRow("forced") << "upgrade_mode: 3\nforced: true\ntarget_release: \"13\"\n"
                                << none << 3 << true << true << 3;
        QTest::newRow("forced yes") << "upgrade_mode: 2\nforced: yes\n"
                                    << none << 2 << true << true << 0;
        QTest::newRow("forced not a bool") << "upgrade_mode: 3\nforced: maybe\n"
                                           << none << 3 << true << false << 3;
        QTest::newRow("forced as a list") << "upgrade_mode: 3\nforced: [true]\n"
                                          << none << 3 << true << false << 3;
        QTest::newRow("mode 0 leaves minor") << "upgrade_mode: 0\n"
                                             << ready << 0 << true << false << 1;
        QTest::newRow("in-between mode leaves minor") << "upgrade_mode: 2\n"
                                                      << activated << 2 << true << false << 1;
        QTest::newRow("unknown keys ignored") << "tool_version: 7\nupgrade_mode: 3\nsteps: [a, b]\n"
                                              << none << 3 << true << false << 3;

        QTest::newRow("garbage") << "upgrade_mode: [3\n  }{" << ready << -1 << false << false << 1;
        QTest::newRow("empty report") << "" << none << -1 << false << false << 0;
        QTest::newRow("sequence") << "- upgrade_mode: 3\n" << none << -1 << false << false << 0;
        QTest::newRow("scalar") << "3\n" << none << -1 << false << false << 0;
        QTest::newRow("missing mode, forced") << "forced: true\n"
                                              << none << -1 << false << true << 0;
        QTest::newRow("mode is text") << "upgrade_mode: three\n"
                                      << ready << -1 << false << false << 1;
        QTest::newRow("mode is fractional") << "upgrade_mode: 3.5\n"
                                            << none << -1 << false << false << 0;
        QTest::newRow("mode is a map") << "upgrade_mode: {value: 3}\n"
                                       << none << -1 << false << false << 0;
        QTest::newRow("mode is null") << "upgrade_mode:\n" << none << -1 << false << false << 0;
        QTest::newRow("negative mode") << "upgrade_mode: -2\n" << none << -2 << true << false << 0;
    }

    void states()
    {
        QFETCH(QString, report);
        QFETCH(QString, status);
        QFETCH(int, mode);
        QFETCH(bool, defined);
        QFETCH(bool, forced);
        QFETCH(int, current);

        place(REPORT, report);
        place(STATUS, status);

        QCOMPARE(UpdateState::checkMajorUpdateState(), mode);
        QCOMPARE(UpdateState::isMajorUpdateStateDefined(), defined);
        QCOMPARE(UpdateState::isMajorUpdateForced(), forced);
        QCOMPARE(UpdateState::getCurrentState(), current);
    }

    void unreadableReport()
    {
        // A directory where the report should be is no report.
        QVERIFY(m_tree.mkpath(QLatin1String(REPORT)));
        QCOMPARE(UpdateState::checkMajorUpdateState(), -1);
        QVERIFY(!UpdateState::isMajorUpdateStateDefined());
        QCOMPARE(UpdateState::getCurrentState(), 0);
    }

    void targetReleases()
    {
        QVERIFY(UpdateState::minorTargetRelease().isEmpty());
        QVERIFY(UpdateState::majorTargetRelease().isEmpty());
        place(STATUS, QStringLiteral("[General]\nstatus=ready\ntarget_release=2.4.1\n"));
        place(REPORT, QStringLiteral("upgrade_mode: 3\ntarget_release: \"13.0\"\n"));
        QCOMPARE(UpdateState::minorTargetRelease(), QStringLiteral("2.4.1"));
        QCOMPARE(UpdateState::majorTargetRelease(), QStringLiteral("13.0"));
        place(REPORT, QStringLiteral("upgrade_mode: 3\ntarget_release: [13]\n"));
        QVERIFY(UpdateState::majorTargetRelease().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateState)
#include "tst_updatestate.moc"
