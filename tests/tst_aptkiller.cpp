#include "aptkiller.h"
#include "constants.h"
#include "logger.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

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
    int killApt(int timeoutMs = AptKiller::DEFAULT_TIMEOUT_MS)
    {
        AptKiller killer(m_logger.get());
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

    void terminatesTheHolder()
    {
        QProcess holder;
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted(BOUND_MS));
        const qint64 pid = holder.processId();
        QVERIFY(m_tree.installStandIn(LSOF));
        QVERIFY(m_tree.setStandInOutput(LSOF_NAME, QString::number(pid) + QLatin1Char('\n')));

        QCOMPARE(killApt(), 1);
        QCOMPARE(m_tree.standInCalls(LSOF_NAME), QStringList {lsofLine()});
        QVERIFY(logHas(QStringLiteral("INFO"), QStringLiteral("terminating %1").arg(pid)));
        QVERIFY(holder.waitForFinished(BOUND_MS));
        QCOMPARE(holder.exitStatus(), QProcess::CrashExit);
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

    void killFails()
    {
        // Process ids stay below pid_max, so this one never names a process.
        QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
        QVERIFY(pidMax.open(QIODevice::ReadOnly));
        const int pid = pidMax.readAll().trimmed().toInt();
        QVERIFY(pid > 0);
        QVERIFY(m_tree.installStandIn(LSOF));
        QVERIFY(m_tree.setStandInOutput(LSOF_NAME, QString::number(pid)));

        QCOMPARE(killApt(), 0);
        QVERIFY(logHas(QStringLiteral("INFO"), QStringLiteral("terminating %1").arg(pid)));
        QVERIFY(logHas(QStringLiteral("ERROR"), QStringLiteral("Failed to terminate %1").arg(pid)));
    }
};

QTEST_GUILESS_MAIN(TestAptKiller)
#include "tst_aptkiller.moc"
