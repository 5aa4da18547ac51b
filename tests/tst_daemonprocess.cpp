// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The sandboxed daemon program as a process: environment checks, start-up,
// the single-instance guard, what an ended instance leaves behind and
// configuration edits while it runs.

#include "daemonprocess.h"
#include "processtestbed.h"
#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {
const QString CONFIG_PATH = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString LOG_DIR = QStringLiteral("/var/log/kirta-update-service");
const QString STATE_DIR = QStringLiteral("/var/cache/kirta-update-service");
const QString LOG_FILE = LOG_DIR + QStringLiteral("/service.log");
const QString START_LINE = QStringLiteral("void Daemon::start()");
const QString FIRST_LOAD_LINE = QStringLiteral("Loading settings, reload = 0");
const QString RELOAD_LINE = QStringLiteral("Loading settings, reload = 1");
// Where a broken sandbox points its paths; nothing may ever appear there.
const QString UNUSABLE_ROOT = QStringLiteral("/nonexistent-kirta-sysroot");
const int START_TIMEOUT_MS = 10000;

int countOf(const QString &haystack, const QString &needle)
{
    return haystack.count(needle);
}

// The ids of the machine's System V shared-memory segments ("-m") or
// semaphore sets ("-s"), as ipcs lists them.
QSet<QString> ipcIds(const QString &kind)
{
    QProcess ipcs;
    ipcs.start(QStringLiteral("ipcs"), {kind});
    if (!ipcs.waitForFinished(5000) || ipcs.exitCode() != 0)
        return {QStringLiteral("ipcs failed")};
    QSet<QString> ids;
    for (const QString &line : QString::fromLocal8Bit(ipcs.readAllStandardOutput()).split('\n')) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() > 1 && fields.first().startsWith(QLatin1String("0x")))
            ids.insert(fields.at(1));
    }
    return ids;
}
} // namespace

class TestDaemonProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void refusesUnusableSysroot_data();
    void refusesUnusableSysroot();
    void startCreatesAppDirsAndLoadsSettings_data();
    void startCreatesAppDirsAndLoadsSettings();
    void secondInstanceExitsWithoutLogging_data();
    void secondInstanceExitsWithoutLogging();
    void startsAgainAfterSigkill();
    void terminationLeavesNoIpcObjects();
    void picksUpEveryReplacingEdit();

private:
    // Starts `daemon` and waits until it has loaded its settings once more
    // than `loadsBefore` times.
    bool startAndWaitForLoad(DaemonProcess &daemon, int loadsBefore = 0);

    ProcessTestBed m_bed;
    SandboxTree &m_tree = m_bed.tree();
};

void TestDaemonProcess::initTestCase()
{
    QVERIFY2(m_bed.start(), qPrintable(m_bed.errorString()));
}

void TestDaemonProcess::init()
{
    QVERIFY2(m_bed.resetTree(SandboxTree::sampleConfiguration(5)), qPrintable(m_bed.errorString()));
}

bool TestDaemonProcess::startAndWaitForLoad(DaemonProcess &daemon, int loadsBefore)
{
    if (!daemon.start())
        return false;
    return waitUntil(
                   [&] {
                       return countOf(DaemonProcess::logText(), FIRST_LOAD_LINE) > loadsBefore
                              || !daemon.isRunning();
                   },
                   START_TIMEOUT_MS)
           && daemon.isRunning();
}

void TestDaemonProcess::refusesUnusableSysroot_data()
{
    // Value of KIRTA_SYSROOT relative to the tree; "<unset>" removes it.
    QTest::addColumn<QString>("sysroot");

    QTest::newRow("unset") << QStringLiteral("<unset>");
    QTest::newRow("empty") << QString();
    QTest::newRow("relative") << QStringLiteral("relative/root");
    QTest::newRow("missing directory") << QStringLiteral("@/missing");
    QTest::newRow("regular file") << QStringLiteral("@/plain-file");
}

void TestDaemonProcess::refusesUnusableSysroot()
{
    QFETCH(QString, sysroot);
    sysroot.replace(QStringLiteral("@"), m_tree.root());
    QVERIFY(m_tree.writeFile(QStringLiteral("/plain-file"), QByteArray("not a directory\n")));
    // A relative root would be taken against the working directory.
    const QString workDir = m_tree.path(QStringLiteral("/workdir"));
    QVERIFY(m_tree.mkpath(QStringLiteral("/workdir")));

    DaemonProcess daemon;
    if (sysroot == QLatin1String("<unset>"))
        daemon.unsetEnvironmentValue(QStringLiteral("KIRTA_SYSROOT"));
    else
        daemon.setEnvironmentValue(QStringLiteral("KIRTA_SYSROOT"), sysroot);
    daemon.setWorkingDirectory(workDir);
    QVERIFY(daemon.start());

    QCOMPARE(daemon.waitForExit(START_TIMEOUT_MS), 1);
    const QString err = QString::fromLocal8Bit(daemon.standardError());
    QVERIFY2(err.contains(QLatin1String("KIRTA_SYSROOT")), qPrintable(err));

    QVERIFY(!m_tree.exists(LOG_DIR));
    QVERIFY(!m_tree.exists(STATE_DIR));
    QVERIFY(!m_tree.exists(QStringLiteral("/missing")));
    QVERIFY(QDir(workDir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(!QFileInfo::exists(UNUSABLE_ROOT));
    QVERIFY(m_tree.standInCalls(QStringLiteral("kirta-update-service")).isEmpty());
}

void TestDaemonProcess::startCreatesAppDirsAndLoadsSettings_data()
{
    QTest::addColumn<QStringList>("prepare");
    QTest::addColumn<QStringList>("remove");
    QTest::addColumn<bool>("stateDirExpected");
    QTest::addColumn<int>("missingReported");

    QTest::newRow("fresh tree") << QStringList() << QStringList() << true << 2;
    QTest::newRow("directories present")
            << QStringList {LOG_DIR, STATE_DIR} << QStringList() << true << 0;
    // mkdir is single-level: a missing parent stays missing and the start
    // goes on.
    QTest::newRow("state parent missing")
            << QStringList() << QStringList {QStringLiteral("/var/cache")} << false << 2;
}

void TestDaemonProcess::startCreatesAppDirsAndLoadsSettings()
{
    QFETCH(QStringList, prepare);
    QFETCH(QStringList, remove);
    QFETCH(bool, stateDirExpected);
    QFETCH(int, missingReported);
    for (const QString &dir : prepare)
        QVERIFY(m_tree.mkpath(dir));
    for (const QString &dir : remove)
        QVERIFY(QDir(m_tree.path(dir)).removeRecursively());

    DaemonProcess daemon;
    QVERIFY(startAndWaitForLoad(daemon));

    QVERIFY(QFileInfo(m_tree.path(LOG_DIR)).isDir());
    QCOMPARE(QFileInfo(m_tree.path(STATE_DIR)).isDir(), stateDirExpected);
    QVERIFY(!m_tree.exists(QStringLiteral("/var/cache")) || stateDirExpected);

    // Lines written before the log directory exists go to standard error.
    const QString log = DaemonProcess::logText();
    const QString all = QString::fromLocal8Bit(daemon.standardError()) + log;
    const int startAt = all.indexOf(START_LINE);
    QVERIFY(startAt >= 0);
    QVERIFY(all.indexOf(FIRST_LOAD_LINE) > startAt);
    QCOMPARE(countOf(log, FIRST_LOAD_LINE), 1);
    if (missingReported == 0)
        QVERIFY(log.contains(START_LINE));
    QCOMPARE(countOf(all, QStringLiteral(" does not exist")), missingReported);
    if (missingReported > 0) {
        // Directories are made before the settings are read.
        const int madeAt
                = all.indexOf(QStringLiteral("var/cache/kirta-update-service does not exist"));
        QVERIFY(madeAt > startAt);
        QVERIFY(madeAt < all.indexOf(FIRST_LOAD_LINE));
    }
    // The value dump follows the load line.
    QVERIFY(DaemonProcess::waitForLog(QStringLiteral(": t_check = 5\n"), START_TIMEOUT_MS));
    QVERIFY(!QFileInfo::exists(UNUSABLE_ROOT));
}

void TestDaemonProcess::secondInstanceExitsWithoutLogging_data()
{
    // The second one's temporary directory: the first one's, or a private
    // one as a unit's PrivateTmp gives it.
    QTest::addColumn<bool>("ownTmp");
    QTest::newRow("same /tmp") << false;
    QTest::newRow("own /tmp") << true;
}

void TestDaemonProcess::secondInstanceExitsWithoutLogging()
{
    QFETCH(bool, ownTmp);
    // With the log directory in place every line of a start lands in the log.
    QVERIFY(m_tree.mkpath(LOG_DIR));
    QVERIFY(m_tree.mkpath(STATE_DIR));
    DaemonProcess first;
    QVERIFY(startAndWaitForLoad(first));

    // What a start after an upgrade at reboot would act on.
    const QString copy = STATE_DIR + QStringLiteral("/kirta-update-daemon.conf");
    const QString stamp = STATE_DIR + QStringLiteral("/successful");
    QVERIFY(m_tree.writeFile(copy, QByteArray("T_check=42\n")));
    QVERIFY(m_tree.writeFile(stamp, QByteArray()));
    const QString config = m_tree.readFile(CONFIG_PATH);

    DaemonProcess second;
    if (ownTmp) {
        QVERIFY(m_tree.mkpath(QStringLiteral("/private-tmp")));
        second.setEnvironmentValue(QStringLiteral("TMPDIR"),
                                   m_tree.path(QStringLiteral("/private-tmp")));
    }
    QVERIFY(second.start());
    QCOMPARE(second.waitForExit(START_TIMEOUT_MS), 255);
    QVERIFY(!second.standardError().contains(START_LINE.toUtf8()));

    // The first one keeps logging, so look for what a start would write.
    const QString log = DaemonProcess::logText();
    QCOMPARE(countOf(log, START_LINE), 1);
    QCOMPARE(countOf(log, FIRST_LOAD_LINE), 1);
    QVERIFY(first.isRunning());
    QCOMPARE(m_tree.readFile(CONFIG_PATH), config);
    QVERIFY(m_tree.exists(copy));
    QVERIFY(m_tree.exists(stamp));
}

void TestDaemonProcess::startsAgainAfterSigkill()
{
    DaemonProcess first;
    QVERIFY(startAndWaitForLoad(first));
    QVERIFY(first.kill());
    QCOMPARE(first.waitForExit(), int(DaemonProcess::CRASHED));

    DaemonProcess second;
    QVERIFY(startAndWaitForLoad(second, 1));
    QCOMPARE(countOf(DaemonProcess::logText(), FIRST_LOAD_LINE), 2);

    // And the new one holds the guard in turn.
    DaemonProcess third;
    QVERIFY(third.start());
    QCOMPARE(third.waitForExit(START_TIMEOUT_MS), 255);
    QVERIFY(second.isRunning());
}

// SIGTERM ends the daemon without its destructors: whatever the guard keeps
// must go with the process.
void TestDaemonProcess::terminationLeavesNoIpcObjects()
{
    const QSet<QString> segmentsBefore = ipcIds(QStringLiteral("-m"));
    const QSet<QString> semaphoresBefore = ipcIds(QStringLiteral("-s"));
    for (int run = 0; run < 2; ++run) {
        DaemonProcess daemon;
        QVERIFY(startAndWaitForLoad(daemon, run));
        DaemonProcess second;
        QVERIFY(second.start());
        QCOMPARE(second.waitForExit(START_TIMEOUT_MS), 255);
        QVERIFY(daemon.terminate());
    }
    QCOMPARE(ipcIds(QStringLiteral("-m")) - segmentsBefore, QSet<QString>());
    QCOMPARE(ipcIds(QStringLiteral("-s")) - semaphoresBefore, QSet<QString>());
}

void TestDaemonProcess::picksUpEveryReplacingEdit()
{
    const QString configFile = m_tree.path(CONFIG_PATH);

    DaemonProcess daemon;
    QVERIFY(startAndWaitForLoad(daemon));
    QVERIFY(DaemonProcess::waitForLog(QStringLiteral(": t_check = 5\n"), START_TIMEOUT_MS));

    for (const int value : {7, 9}) {
        // An edit made before the watch is (re)armed is lost by design.
        KIRTA_WAIT_VERIFY(daemon.watchesFile(configFile), START_TIMEOUT_MS);
        const int mark = DaemonProcess::logText().size();
        // sed -i writes a new file and renames it over the old one.
        QCOMPARE(QProcess::execute(QStringLiteral("sed"),
                                   {QStringLiteral("-i"),
                                    QStringLiteral("s/^T_check=.*/T_check=%1/").arg(value),
                                    configFile}),
                 0);
        QVERIFY(m_tree.readFile(CONFIG_PATH).contains(QStringLiteral("T_check=%1\n").arg(value)));

        const QRegularExpression pickedUp(
                QStringLiteral("%1\\n.*: t_check = %2\\n").arg(RELOAD_LINE).arg(value),
                QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(DaemonProcess::waitForLog(pickedUp, START_TIMEOUT_MS, mark),
                 qPrintable(QStringLiteral("edit to T_check=%1 not picked up").arg(value)));
    }
    // The daemon's own write-back keeps the administrator's value.
    QVERIFY(m_tree.readFile(CONFIG_PATH).contains(QStringLiteral("T_check=9\n")));
    QVERIFY(daemon.isRunning());
}

QTEST_GUILESS_MAIN(TestDaemonProcess)
#include "tst_daemonprocess.moc"
