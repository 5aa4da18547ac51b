// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "aptkiller.h"
#include "childprocess.h"
#include "constants.h"
#include "logger.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

#include <signal.h>

namespace {
const QString LSOF = QStringLiteral("/usr/bin/lsof");
const QString LSOF_NAME = QStringLiteral("lsof");
const QString LOG = QStringLiteral("/var/log/workers.log");
const int SHORT_TIMEOUT_MS = 1000;
const int BOUND_MS = 10000;
} // namespace

class TestAptKiller : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::unique_ptr<Logger> m_logger;

    QString log() const { return m_tree.readFile(LOG); }

    bool logHas(const QString &level, const QString &message) const
    {
        const QString tail = QLatin1Char(' ') + level + QLatin1Char(' ') + message;
        const QStringList lines = log().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString &line) { return line.endsWith(tail); });
    }

    QString lsofLine() const
    {
        return QStringLiteral("-t ") + m_tree.path(QStringLiteral("/var/cache/apt/archives/lock"));
    }

    // Runs killApt() and answers how often cleanCache() was emitted by the
    // time it returned.
    int killApt(int timeoutMs = AptKiller::DEFAULT_TIMEOUT_MS, const QList<qint64> &own = {})
    {
        AptKiller killer(m_logger.get(), own);
        killer.setTimeoutMs(timeoutMs);
        int emitted = 0;
        connect(&killer, &AptKiller::cleanCache, &killer, [&emitted] { ++emitted; });
        killer.killApt();
        return emitted;
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_logger = std::make_unique<Logger>(m_tree.path(LOG), Logger::Debug);
    }

    void onlyOwnHoldersAreEnded_data()
    {
        QTest::addColumn<bool>("own");
        QTest::addColumn<bool>("holderIsChild");
        QTest::newRow("own run") << true << false;
        // apt-get or dpkg under the stage program: the whole run ends.
        QTest::newRow("child of own run") << true << true;
        // An administrator's apt run is never the daemon's to end.
        QTest::newRow("foreign") << false << false;
    }

    void onlyOwnHoldersAreEnded()
    {
        QFETCH(bool, own);
        QFETCH(bool, holderIsChild);

        ChildProcess run;
        run.setProgram(QStringLiteral("sh"));
        run.setArguments({QStringLiteral("-c"), QStringLiteral("sleep 60 & echo $!; wait")});
        QCOMPARE(run.run(500, ChildProcess::Overrun::Leave), ChildProcess::Ending::Running);
        QProcess foreign;
        foreign.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(foreign.waitForStarted(BOUND_MS));
        KIRTA_WAIT_VERIFY(run.canReadLine(), BOUND_MS);
        const qint64 child = run.readLine().trimmed().toLongLong();
        const qint64 holder = !own ? foreign.processId() : holderIsChild ? child : run.processId();
        QVERIFY(m_tree.installStandIn(LSOF));
        QVERIFY(m_tree.setStandInOutput(LSOF_NAME, QString::number(holder) + QLatin1Char('\n')));

        QCOMPARE(killApt(AptKiller::DEFAULT_TIMEOUT_MS, {run.processGroup()}), own ? 1 : 0);
        QCOMPARE(m_tree.standInCalls(LSOF_NAME), QStringList {lsofLine()});
        if (own) {
            QVERIFY(logHas(QStringLiteral("INFO"), QStringLiteral("terminating %1").arg(holder)));
            QVERIFY(run.waitForFinished(BOUND_MS));
            QCOMPARE(run.exitStatus(), QProcess::CrashExit);
            KIRTA_WAIT_VERIFY(::kill(pid_t(child), 0) != 0, BOUND_MS);
            QVERIFY(foreign.state() == QProcess::Running);
        } else {
            QVERIFY2(logHas(QStringLiteral("WARNING"),
                            QStringLiteral("The package lock is held by %1, which the daemon did "
                                           "not start: left alone")
                                    .arg(holder)),
                     qPrintable(log()));
            QVERIFY(!foreign.waitForFinished(200));
            QCOMPARE(run.state(), QProcess::Running);
        }
        foreign.kill();
        foreign.waitForFinished(BOUND_MS);
    }

    // No single, usable process id, or no answer from lsof in time:
    // nothing is signalled, nothing emitted.
    void noHolder_data()
    {
        QTest::addColumn<QString>("output"); // or "<missing>", "<hanging>"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("lock free") << "" << 1 << "Failed to get apt pid: 0";
        QTest::newRow("two holders") << "4101\n4102\n" << 0 << "Failed to get apt pid: 0";
        QTest::newRow("not a number") << "lsof: WARNING\n" << 0 << "Failed to get apt pid: 0";
        // A negative id would address a whole process group.
        QTest::newRow("process group") << "-4194305\n" << 0 << "Failed to get apt pid: -4194305";
        QTest::newRow("lsof missing") << "<missing>" << 0 << "Failed to get apt pid";
        QTest::newRow("lsof hanging") << "<hanging>" << 0 << "Failed to get apt pid";
    }

    void noHolder()
    {
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QString, message);

        const bool installed = output != QLatin1String("<missing>");
        if (installed) {
            QVERIFY(m_tree.installStandIn(LSOF));
            if (output == QLatin1String("<hanging>"))
                QVERIFY(m_tree.setStandInDelay(LSOF_NAME, 30));
            else
                QVERIFY(m_tree.setStandInOutput(LSOF_NAME, output));
            QVERIFY(m_tree.setStandInExitCode(LSOF_NAME, exitCode));
        }

        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(killApt(SHORT_TIMEOUT_MS), 0);
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(m_tree.standInCalls(LSOF_NAME),
                 installed ? QStringList {lsofLine()} : QStringList());
        QVERIFY2(logHas(QStringLiteral("ERROR"), message), qPrintable(log()));
        QVERIFY(!log().contains(QStringLiteral("terminating")));
    }

    // A holder gone by the time it is looked at belongs to no run of ours.
    void vanishedHolder()
    {
        // Process ids stay below pid_max, so this one never names a process.
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        const int pid = pidMax.readAll().trimmed().toInt();
        QVERIFY(pid > 0);
        QVERIFY(m_tree.installStandIn(LSOF));
        QVERIFY(m_tree.setStandInOutput(LSOF_NAME, QString::number(pid)));

        QCOMPARE(killApt(AptKiller::DEFAULT_TIMEOUT_MS, {pid}), 0);
        QVERIFY(!log().contains(QStringLiteral("terminating")));
        QVERIFY(logHas(QStringLiteral("WARNING"),
                       QStringLiteral("The package lock is held by %1, which the daemon did not "
                                      "start: left alone")
                               .arg(pid)));
    }
};

QTEST_GUILESS_MAIN(TestAptKiller)
#include "tst_aptkiller.moc"
