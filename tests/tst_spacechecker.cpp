// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "donotcheckfreespace.h"
#include "logger.h"
#include "sandbox.h"
#include "spacechecker.h"

#include <QtTest>

#include <memory>

namespace {
const QString SERVICE = QStringLiteral("/usr/sbin/kirta-update-service");
const QString SERVICE_NAME = QStringLiteral("kirta-update-service");
const QString LOG = QStringLiteral("/var/log/workers.log");
} // namespace

class TestSpaceChecker : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::unique_ptr<Logger> m_logger;

    bool logHas(const QString &level, const QString &message) const
    {
        const QString tail = QLatin1Char(' ') + level + QLatin1Char(' ') + message;
        const QStringList lines = m_tree.readFile(LOG).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString &line) { return line.endsWith(tail); });
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        QVERIFY(m_tree.installStandIn(SERVICE));
        m_logger = std::make_unique<Logger>(m_tree.path(LOG), Logger::Debug);
    }

    void policies_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<int>("reposPolicy");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("withLogger");
        QTest::addColumn<bool>("passes");
        // Empty: the stage program must not run at all.
        QTest::addColumn<QString>("query");

        QTest::newRow("2 does not check") << 2 << 1 << 0 << true << true << "";
        QTest::newRow("2 without logger") << 2 << 1 << 0 << false << true << "";
        QTest::newRow("0, enough") << 0 << 0 << 1 << true << true << "is_enough_free_space 0";
        QTest::newRow("0, not enough") << 0 << 0 << 0 << true << false << "is_enough_free_space 0";
        QTest::newRow("1 passes repos policy")
                << 1 << 3 << 1 << true << true << "is_enough_free_space 3";
        QTest::newRow("unknown policy asks")
                << 5 << 2 << 0 << true << false << "is_enough_free_space 2";
        QTest::newRow("bad exit code fails")
                << 0 << 1 << 3 << true << false << "is_enough_free_space 1";
        QTest::newRow("asks without logger")
                << 1 << 4 << 1 << false << true << "is_enough_free_space 4";
    }

    void policies()
    {
        QFETCH(int, policy);
        QFETCH(int, reposPolicy);
        QFETCH(int, exitCode);
        QFETCH(bool, withLogger);
        QFETCH(bool, passes);
        QFETCH(QString, query);

        QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, exitCode));
        SpaceChecker checker(withLogger ? m_logger.get() : nullptr);
        checker.setStrategy(policy, reposPolicy);
        QCOMPARE(checker.check(), passes);

        const QStringList expectedCalls = query.isEmpty() ? QStringList() : QStringList {query};
        QCOMPARE(m_tree.standInCalls(SERVICE_NAME), expectedCalls);
        if (!withLogger) {
            QVERIFY(!m_tree.exists(LOG));
            return;
        }
        if (query.isEmpty()) {
            QVERIFY(logHas(QStringLiteral("WARNING"), QStringLiteral("do not check free space")));
        } else {
            QVERIFY(logHas(QStringLiteral("INFO"),
                           QStringLiteral("Check free space with kirta-update-modern")));
            QVERIFY(logHas(QStringLiteral("INFO"), QStringLiteral("%1 %2 exited with code %3")
                                                           .arg(SERVICE_SCRIPT_PATH, query)
                                                           .arg(exitCode)));
        }
    }

    void missingProgramFails()
    {
        QVERIFY(QFile::remove(m_tree.path(SERVICE)));
        SpaceChecker checker(m_logger.get());
        checker.setStrategy(0, 1);
        QCOMPARE(checker.check(), false);
        QVERIFY(logHas(QStringLiteral("ERROR"),
                       SERVICE_SCRIPT_PATH
                               + QStringLiteral(" is_enough_free_space 1 failed to finish")));
    }

    void noStrategyFails() { QCOMPARE(SpaceChecker(m_logger.get()).check(), false); }

    void replacedStrategyIsReleased()
    {
        SpaceChecker checker(m_logger.get());
        checker.setStrategy(0, 1);
        std::weak_ptr<SpaceCheckStrategy> first = checker.strategy();
        QVERIFY(!first.expired());

        checker.setStrategy(2, 4);
        QVERIFY(first.expired());
        const std::shared_ptr<SpaceCheckStrategy> second = checker.strategy();
        QVERIFY(std::dynamic_pointer_cast<DoNotCheckFreeSpace>(second));
        QCOMPARE(second->reposPolicy(), 4);
        QCOMPARE(second.use_count(), 2L);
    }
};

QTEST_GUILESS_MAIN(TestSpaceChecker)
#include "tst_spacechecker.moc"
