// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// Faults around the daemon's program: killed while it writes its
// configuration, a stage program that is missing, crashes, hangs or ignores
// SIGTERM, a full state directory, the bus going away, the clock set back
// across the deadline, and configurations of junk or of megabytes.
//
// The daemon runs from a copy of its binary at a path of this test's own, so
// its single-instance guard meets no other test's daemon and this slow test
// can run beside the others.

#include "daemonprocess.h"
#include "processtestbed.h"
#include "settingscontroller.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

namespace {
const QString SERVICE = QStringLiteral("os.kirtalinux.zun.kirtaupdateservice");
const QString OBJECT_PATH = QStringLiteral("/os/kirtalinux/zun/kirtaupdateservice");
const QString CONFIG_PATH = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
const QString CONFIG_DIR = QStringLiteral("/etc/kirta-update-service");
const QString STATE_DIR = QStringLiteral("/var/cache/kirta-update-service");
const QString STAGE_PROGRAM = QStringLiteral("/usr/sbin/kirta-update-service");
const QString LINK = QStringLiteral("/system-update");
const QString DATE_FORMAT = QStringLiteral("hh:mm dd.MM.yyyy");
const QString FAKETIME_LIBRARY
        = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
const int CALL_TIMEOUT_MS = 5000;
const int START_TIMEOUT_MS = 15000;
// The stage program's bound is 30 s; a hung run ends in the log a bit later.
const int HANG_TIMEOUT_MS = 40000;
// One download poll (5 s) plus the stages around it.
const int DOWNLOAD_TIMEOUT_MS = 15000;
const int KILL_RUNS = 110;
// Runs go on past KILL_RUNS, up to this many, until random kills have landed
// on both sides of the write.
const int MAX_KILL_RUNS = 3 * KILL_RUNS;

// Stage program whose behaviour per stage word is set in
// $KIRTA_SYSROOT/fault/WORD: "crash", "hang" (ends on SIGTERM, and its
// child, logged as "PID child", runs on unless signalled too), "deaf"
// (ignores SIGTERM), "sleep N", "exit N"; absent means exit 0. Every run
// appends "PID ARGS" to fault/calls.
const char STAGE_SCRIPT[] = R"(#!/bin/sh
dir="$KIRTA_SYSROOT/fault"
echo "$$ $*" >>"$dir/calls"
mode=$(cat "$dir/$1" 2>/dev/null)
case "$mode" in
    crash) ulimit -c 0; kill -SEGV $$ ;;
    hang) sleep 600 & echo "$! child" >>"$dir/calls"; wait ;;
    deaf) trap '' TERM; exec sleep 600 ;;
    sleep*) sleep "${mode#sleep }" ;;
    exit*) exit "${mode#exit }" ;;
esac
exit 0
)";

const QString BASE_CONFIG = QStringLiteral("# kept by the administrator\n"
                                           "T_check=60\n"
                                           "T_download_min=0\n"
                                           "T_download_max=0\n"
                                           "T_retry=2\n"
                                           "T_end_check=1\n"
                                           "Action_on_error=Stop\n"
                                           "Snapshot=false\n"
                                           "Always_new_update=false\n"
                                           "Free_space_policy=2\n"
                                           "Use_sources_list_d=1\n"
                                           "Host_to_ping=127.0.0.1\n"
                                           "; unknown keys stay\n"
                                           "Colour=blue\n"
                                           "Log_level=%1\n");

const QString UPGRADABLE = QStringLiteral("Listing...\n"
                                          "base-files/stable 12.5 amd64 [upgradable from: 12.4]\n");

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    // A zombie is gone for every purpose here.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file the way editors do: a new file renamed over the old.
bool replaceFile(const QString &path, const QByteArray &content)
{
    const QString temporary = path + QStringLiteral(".test-edit");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size())
        return false;
    file.close();
    return ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData())
           == 0;
}

// The keys of a flat INI text, in order.
QStringList keysOf(const QByteArray &content)
{
    QStringList keys;
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith(';'))
            continue;
        const int equals = trimmed.indexOf('=');
        keys << QString::fromUtf8(equals < 0 ? trimmed : trimmed.left(equals).trimmed());
    }
    return keys;
}

QString lineValue(const QByteArray &content, const QByteArray &key)
{
    for (const QByteArray &line : content.split('\n')) {
        if (line.startsWith(key + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    }
    return QString();
}

QByteArray withLine(const QByteArray &content, const QByteArray &key, const QByteArray &value)
{
    QList<QByteArray> lines = content.split('\n');
    for (QByteArray &line : lines) {
        if (line.startsWith(key + '='))
            line = key + '=' + value;
    }
    return lines.join('\n');
}
} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void killDuringConfigWritesLeavesWholeFile();
    void junkConfigurationIsKept_data();
    void junkConfigurationIsKept();
    void stageWithoutAnswer_data();
    void stageWithoutAnswer();
    void hungStagesAreBoundedAndEnded();
    void fullStateDirectory();
    void lostBusEndsTheDaemon();
    void clockSetBackAcrossDeadline();

private:
    QString program() const;
    bool installStageProgram() const;
    void setStage(const QString &word, const QString &mode) const;
    // Process ids of the runs of stage `word` so far.
    QList<qint64> stageRuns(const QString &word) const;
    QByteArray config(const QString &logLevel = QStringLiteral("debug")) const;
    QDBusMessage call(const QString &method, const QVariantList &arguments = {},
                      int timeoutMs = CALL_TIMEOUT_MS,
                      const QDBusConnection &bus = QDBusConnection::systemBus()) const;
    int stateNumber(const QDBusConnection &bus = QDBusConnection::systemBus()) const;
    bool waitForName(DaemonProcess &daemon,
                     const QDBusConnection &bus = QDBusConnection::systemBus()) const;
    // Ends every process of a stage run that is still there.
    void endStageRuns() const;

    ProcessTestBed m_bed;
    SandboxTree &m_tree = m_bed.tree();
    QString m_binDir;
};

void TestFaults::initTestCase()
{
    QVERIFY2(m_bed.start(), qPrintable(m_bed.errorString()));
    m_binDir = m_tree.root() + QStringLiteral(".bin");
    QVERIFY(QDir(m_binDir).removeRecursively());
    QVERIFY(QDir().mkpath(m_binDir));
    QVERIFY(QFile::copy(DaemonProcess::defaultProgram(), program()));
    QVERIFY(QFile::setPermissions(program(), QFile::ReadOwner | QFile::ExeOwner));
}

void TestFaults::init()
{
    QVERIFY2(m_bed.resetTree(QString::fromUtf8(config())), qPrintable(m_bed.errorString()));
    QVERIFY(installStageProgram());
}

void TestFaults::cleanup()
{
    endStageRuns();
}

QString TestFaults::program() const
{
    return m_binDir + QStringLiteral("/kirta-update-daemon");
}

bool TestFaults::installStageProgram() const
{
    const QString path = m_tree.path(STAGE_PROGRAM);
    QFile::remove(path);
    if (!m_tree.writeFile(STAGE_PROGRAM, QByteArray(STAGE_SCRIPT)) || !m_tree.mkpath("/fault"))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                               | QFile::ReadOther | QFile::ExeOther);
}

void TestFaults::setStage(const QString &word, const QString &mode) const
{
    QVERIFY(m_tree.writeFile(QStringLiteral("/fault/") + word, mode.toUtf8()));
}

QList<qint64> TestFaults::stageRuns(const QString &word) const
{
    QList<qint64> pids;
    for (const QString &line : m_tree.readFile(QStringLiteral("/fault/calls")).split('\n')) {
        const QStringList words = line.split(QLatin1Char(' '));
        if (words.size() >= 2 && words.at(1) == word)
            pids << words.at(0).toLongLong();
    }
    return pids;
}

void TestFaults::endStageRuns() const
{
    for (const QString &line : m_tree.readFile(QStringLiteral("/fault/calls")).split('\n')) {
        const qint64 pid = line.section(QLatin1Char(' '), 0, 0).toLongLong();
        if (processAlive(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
}

QByteArray TestFaults::config(const QString &logLevel) const
{
    return BASE_CONFIG.arg(logLevel).toUtf8();
}

QDBusMessage TestFaults::call(const QString &method, const QVariantList &arguments, int timeoutMs,
                              const QDBusConnection &bus) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(SERVICE, OBJECT_PATH, SERVICE, method);
    message.setArguments(arguments);
    return QDBusConnection(bus).call(message, QDBus::Block, timeoutMs);
}

int TestFaults::stateNumber(const QDBusConnection &bus) const
{
    const QDBusMessage reply
            = call(QStringLiteral("getCurrentStateAsInt"), {}, CALL_TIMEOUT_MS, bus);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return -100;
    return reply.arguments().at(0).toInt();
}

bool TestFaults::waitForName(DaemonProcess &daemon, const QDBusConnection &bus) const
{
    QDBusConnectionInterface *interface = bus.interface();
    return waitUntil([&] { return !daemon.isRunning() || interface->isServiceRegistered(SERVICE); },
                     START_TIMEOUT_MS)
           && daemon.isRunning() && interface->servicePid(SERVICE).value() == uint(daemon.pid());
}

// The daemon rewrites its configuration (here: moving the deadline when
// T_delay changes) and is killed at random moments around the write. Every
// kill must leave the whole file: the old text or the new one.
void TestFaults::killDuringConfigWritesLeavesWholeFile()
{
    const QString path = m_tree.path(CONFIG_PATH);
    const QByteArray base = config(QStringLiteral("info")) + "T_delay=3\nT_end=12:00 01.01.2031\n";
    const QStringList expectedKeys = keysOf(base);
    QVERIFY(replaceFile(path, base));

    QRandomGenerator random(20240611);
    int rewrittenBeforeKill = 0;
    int killedBeforeRewrite = 0;
    qint64 latencyUs = 20000;
    QList<qint64> recentLatenciesUs;
    QElapsedTimer total;
    total.start();
    int run = 0;
    for (; run < KILL_RUNS
           || ((rewrittenBeforeKill == 0 || killedBeforeRewrite == 0) && run < MAX_KILL_RUNS);
         ++run) {
        DaemonProcess daemon(program());
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(!daemon.isRunning() || daemon.watchesFile(path), START_TIMEOUT_MS);
        QVERIFY2(daemon.isRunning(), qPrintable(daemon.diagnostics()));

        // An edit the daemon answers by moving T_end one day.
        const QByteArray before = readBytes(path);
        const int delay = lineValue(before, "T_delay").toInt();
        const QString end = lineValue(before, "T_end");
        const QByteArray edited
                = withLine(before, "T_delay", QByteArray::number(delay == 3 ? 4 : 3));
        QVERIFY(replaceFile(path, edited));

        // The first runs and every tenth measure how long the daemon takes
        // to rewrite; the other kills land anywhere up to twice the median
        // of the latest measurements, so that the window follows the load
        // of the machine rather than one slow moment.
        QElapsedTimer sinceEdit;
        sinceEdit.start();
        const bool measuring = run < 5 || run % 10 == 0;
        if (measuring) {
            KIRTA_WAIT_VERIFY(lineValue(readBytes(path), "T_end") != end, 5000);
            recentLatenciesUs << sinceEdit.nsecsElapsed() / 1000;
            if (recentLatenciesUs.size() > 5)
                recentLatenciesUs.removeFirst();
            QList<qint64> sorted = recentLatenciesUs;
            std::sort(sorted.begin(), sorted.end());
            latencyUs = qMax<qint64>(20000, sorted.at(sorted.size() / 2));
        } else {
            const qint64 killAtUs = qint64(random.bounded(quint32(2 * latencyUs)));
            while (sinceEdit.nsecsElapsed() / 1000 < killAtUs)
                QThread::usleep(100);
        }
        QVERIFY(daemon.kill());

        const QByteArray after = readBytes(path);
        QVERIFY2(!after.isEmpty(), qPrintable(QStringLiteral("run %1: empty file").arg(run)));
        QCOMPARE(keysOf(after), expectedKeys);
        SettingsController store(path);
        store.load();
        QVERIFY2(store.lastWarnings().isEmpty(), qPrintable(store.lastWarnings().join('\n')));
        QVERIFY(store.params().upgrade_time_stamp.first);
        // Only the two lines of the edit and of the daemon's answer differ.
        QCOMPARE(withLine(withLine(after, "T_delay", "x"), "T_end", "x"),
                 withLine(withLine(base, "T_delay", "x"), "T_end", "x"));
        if (!measuring) {
            if (lineValue(after, "T_end") != end)
                ++rewrittenBeforeKill;
            else
                ++killedBeforeRewrite;
        }

        // The daemon's temporary files are its own business; they must not
        // pile up as configuration files of the directory.
        for (const QString &name : QDir(m_tree.path(CONFIG_DIR)).entryList(QDir::Files)) {
            if (name != QFileInfo(path).fileName())
                QFile::remove(m_tree.path(CONFIG_DIR) + QLatin1Char('/') + name);
        }
    }
    qInfo("%d kills in %lld ms (rewrite takes about %lld us); at random: %d after the rewrite, "
          "%d before",
          run, total.elapsed(), latencyUs, rewrittenBeforeKill, killedBeforeRewrite);
    // The random kills must have hit both sides of the write, or they proved
    // little.
    QVERIFY(rewrittenBeforeKill > 0);
    QVERIFY(killedBeforeRewrite > 0);
}

void TestFaults::junkConfigurationIsKept_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("warns");

    QRandomGenerator random(7);
    QByteArray junk(64 * 1024, '\0');
    for (char &c : junk)
        c = char(random.bounded(256));
    QByteArray junk2(16 * 1024, '\0');
    for (char &c : junk2)
        c = char(random.bounded(256));
    QTest::newRow("random bytes") << junk << junk2 << false;

    QByteArray values;
    for (const char *key : {"T_check", "T_download_min", "T_download_max", "T_retry", "T_end_check",
                            "Action_on_error", "Snapshot", "Always_new_update", "Free_space_policy",
                            "Use_sources_list_d", "Extra_repos_policy", "Retry_time_stamp"}) {
        QByteArray value(40, '\0');
        for (char &c : value) {
            c = char(random.bounded(256));
            if (c == '\n' || c == '\r' || c == '\0')
                c = '\x7f';
        }
        values += QByteArray(key) + "=\x01" + value + '\n';
    }
    QTest::newRow("random values") << values << QByteArray("Host_to_ping=127.0.0.1\n") << true;

    QByteArray comments;
    while (comments.size() < 6 * 1024 * 1024)
        comments += "# " + QByteArray(100, 'c') + "\nUnknown_key=" + QByteArray(200, 'v') + '\n';
    QTest::newRow("megabytes") << comments << comments << false;
}

// Junk and huge files: the daemon starts, answers on the bus, warns about
// what it cannot read, and its own writes change only its own lines.
void TestFaults::junkConfigurationIsKept()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QFETCH(bool, warns);

    const QString path = m_tree.path(CONFIG_PATH);
    const QByteArray original = head
                                + "\nT_delay=3\nT_end=12:00 01.01.2031\nLog_level=info\n"
                                  "Host_to_ping=127.0.0.1\nFree_space_policy=2\n"
                                + tail;
    QVERIFY(m_tree.writeFile(CONFIG_PATH, original));

    DaemonProcess daemon(program());
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon));
    KIRTA_WAIT_VERIFY(stateNumber() == 1, 10000);
    QCOMPARE(readBytes(path), original);
    if (warns)
        QVERIFY(DaemonProcess::logText().contains(QLatin1String("WARNING Malformed value")));
    // Warnings quote at most 80 characters of a value.
    QVERIFY2(DaemonProcess::logText().size() < 256 * 1024,
             qPrintable(QString::number(DaemonProcess::logText().size())));

    KIRTA_WAIT_VERIFY(daemon.watchesFile(path), 5000);
    QVERIFY(replaceFile(path, withLine(original, "T_delay", "4")));
    const QByteArray expected
            = withLine(withLine(original, "T_delay", "4"), "T_end", "12:00 02.01.2031");
    KIRTA_WAIT_VERIFY(readBytes(path) == expected, 10000);
    QCOMPARE(stateNumber(), 1);
    QVERIFY(daemon.isRunning());
}

void TestFaults::stageWithoutAnswer_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing"
                             << "could not be started";
    QTest::newRow("crashing") << "crash"
                              << "crashed";
}

// A stage program that gives no exit code: "update" counts as nothing to
// upgrade, "clean" and "downresult" as failed.
void TestFaults::stageWithoutAnswer()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);

    if (fault == QLatin1String("missing")) {
        QVERIFY(QFile::remove(m_tree.path(STAGE_PROGRAM)));
    } else {
        setStage(QStringLiteral("update"), fault);
        setStage(QStringLiteral("clean"), fault);
    }
    DaemonProcess daemon(program());
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon));
    QVERIFY(DaemonProcess::waitForLog(
            QRegularExpression(
                    QStringLiteral("kirta-update-service update 1 %1.*, taken as exit code 0")
                            .arg(reason)),
            10000));
    // Reads do not wait for the daemon's thread: the state shows once the
    // check is over.
    KIRTA_WAIT_VERIFY(stateNumber() == 1, 5000);

    // setStateFromOutside(0) drops the update and cleans the cache.
    QDBusMessage reply = call(QStringLiteral("setStateFromOutside"), {0});
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QVERIFY(DaemonProcess::waitForLog(QRegularExpression(
            QStringLiteral("kirta-update-service clean %1.*, taken as exit code -1").arg(reason))));
    QCOMPARE(stateNumber(), -1);

    if (fault == QLatin1String("missing"))
        return;

    // A download judged by a crashing "downresult" is not a completed one.
    daemon.kill();
    QVERIFY(m_tree.reset());
    QVERIFY(m_tree.installDaemonStandIns());
    QVERIFY(installStageProgram());
    QVERIFY(m_tree.writeFile(CONFIG_PATH, config()));
    QVERIFY(m_tree.setStandInOutput(QStringLiteral("apt"), UPGRADABLE));
    setStage(QStringLiteral("update"), QStringLiteral("exit 1"));
    setStage(QStringLiteral("downresult"), fault);
    DaemonProcess second(program());
    QVERIFY(second.start());
    QVERIFY(waitForName(second));
    QVERIFY(DaemonProcess::waitForLog(
            QStringLiteral("kirta-update-service downresult %1, taken as exit code -1").arg(reason),
            DOWNLOAD_TIMEOUT_MS));
    QVERIFY(DaemonProcess::waitForLog(QStringLiteral("restart downloading  due apt-get error")));
    int state = 0;
    QVERIFY2(waitUntil([&] {
                 state = stateNumber();
                 return state == 2 || state == 3;
             }),
             qPrintable(QString::number(state)));
    QVERIFY(!DaemonProcess::logText().contains(QLatin1String("END OF DOWNLOADING")));
    QVERIFY(!m_tree.exists(STATE_DIR + QStringLiteral("/status")));
    QCOMPARE(lineValue(readBytes(m_tree.path(CONFIG_PATH)), "T_end"), QString());
}

// Hung stage runs hold the daemon for their 30 s bound at most; the next
// run ends the stale one and whatever it started (its process group), with
// SIGTERM or, when that is ignored, SIGKILL.
void TestFaults::hungStagesAreBoundedAndEnded()
{
    setStage(QStringLiteral("update"), QStringLiteral("deaf"));
    DaemonProcess daemon(program());
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon));
    KIRTA_WAIT_VERIFY(stageRuns(QStringLiteral("update")).size() == 1, 5000);
    const qint64 staleUpdate = stageRuns(QStringLiteral("update")).first();

    // The blocking run holds the daemon's thread, not the bus: reads are
    // answered meanwhile.
    QCOMPARE(call(QStringLiteral("getCurrentStateAsInt"), {}, 2000).type(),
             QDBusMessage::ReplyMessage);
    QVERIFY(DaemonProcess::waitForLog(
            QStringLiteral("kirta-update-service update 1 did not finish within 30000 ms, "
                           "taken as exit code 0"),
            HANG_TIMEOUT_MS));
    QVERIFY2(elapsed.elapsed() >= 29000, qPrintable(QString::number(elapsed.elapsed())));
    KIRTA_WAIT_VERIFY(stateNumber() == 1, 5000);
    QVERIFY(processAlive(staleUpdate));

    // "clean" hangs too (it honours SIGTERM); the deaf update is killed
    // first, and the clean without answer is a failure.
    setStage(QStringLiteral("clean"), QStringLiteral("hang"));
    QDBusMessage reply = call(QStringLiteral("setStateFromOutside"), {0}, HANG_TIMEOUT_MS + 5000);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QVERIFY(!processAlive(staleUpdate));
    QVERIFY(DaemonProcess::logText().contains(
            QStringLiteral("int Daemon::cleanCacheByScript(): "
                           "m_commonProcess->state() != QProcess::NotRunning")));
    QVERIFY(DaemonProcess::logText().contains(
            QStringLiteral("kirta-update-service clean did not finish within 30000 ms, "
                           "taken as exit code -1")));
    QCOMPARE(stateNumber(), -1);
    const qint64 staleClean = stageRuns(QStringLiteral("clean")).last();
    QVERIFY(processAlive(staleClean));

    const qint64 staleChild = stageRuns(QStringLiteral("child")).last();
    QVERIFY(processAlive(staleChild));

    // A later run works: the stale clean ends on SIGTERM, and so does the
    // work it started.
    setStage(QStringLiteral("clean"), QStringLiteral("exit 0"));
    reply = call(QStringLiteral("setStateFromOutside"), {0}, 15000);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QVERIFY(!processAlive(staleClean));
    KIRTA_WAIT_VERIFY(!processAlive(staleChild), 5000);
    QCOMPARE(stageRuns(QStringLiteral("clean")).size(), 2);
    QCOMPARE(stateNumber(), 1);
    QVERIFY(daemon.isRunning());
}

// The state directory on a full file system (its own tmpfs in a mount
// namespace of the daemon): the daemon goes on, logs what it could not
// write, and what it reports over the bus matches what is on disk.
void TestFaults::fullStateDirectory()
{
    if (::geteuid() != 0)
        QSKIP("mounting a file system needs root");
    const QString stateDir = m_tree.path(STATE_DIR);
    QVERIFY(QDir().mkpath(stateDir));
    const QString wrapper = m_binDir + QStringLiteral("/full-state-dir");
    const QString script
            = QStringLiteral("#!/bin/sh\n"
                             "exec unshare -m sh -c '\n"
                             "mount -t tmpfs -o size=16k,nr_inodes=16 tmpfs \"$1\" || exit 99\n"
                             "dd if=/dev/zero of=\"$1/filler\" bs=4096 2>/dev/null\n"
                             "i=0; while touch \"$1/empty$i\" 2>/dev/null; do i=$((i+1)); done\n"
                             "exec \"$2\"' sh '%1' '%2'\n")
                      .arg(stateDir, program());
    QFile file(wrapper);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(script.toUtf8());
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ExeOwner));

    QVERIFY(m_tree.setStandInOutput(QStringLiteral("apt"), UPGRADABLE));
    setStage(QStringLiteral("update"), QStringLiteral("exit 1"));
    DaemonProcess daemon(wrapper);
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon));
    // Inside the daemon's mount namespace.
    auto inside = [&](const QStringList &command) {
        QProcess process;
        process.start(QStringLiteral("nsenter"),
                      QStringList {QStringLiteral("-t"), QString::number(daemon.pid()),
                                   QStringLiteral("-m"), QStringLiteral("--")}
                              + command);
        process.waitForFinished(5000);
        return process.exitCode() == 0
                       ? QString::fromUtf8(process.readAllStandardOutput())
                       : QStringLiteral("failed: ")
                                 + QString::fromUtf8(process.readAllStandardError());
    };
    QVERIFY2(inside({QStringLiteral("df"), stateDir}).contains(QLatin1String("100%")),
             qPrintable(inside({QStringLiteral("df"), stateDir})));
    QVERIFY(DaemonProcess::waitForLog(QStringLiteral("ERROR Cannot write repos policy file")));

    KIRTA_WAIT_VERIFY(stateNumber() == 4, DOWNLOAD_TIMEOUT_MS);
    QVERIFY(DaemonProcess::waitForLog(QStringLiteral("ERROR Cannot write status file")));
    QVERIFY(!inside({QStringLiteral("cat"), stateDir + QStringLiteral("/status")})
                     .contains(QLatin1String("ready")));

    // Arming still works: the link is what the boot acts on; the stamp in
    // the full directory is missing, and the state says what holds.
    QDBusMessage reply = call(QStringLiteral("enableUpgradeOnReboot"));
    QCOMPARE(reply.arguments().value(0).toInt(), -5);
    KIRTA_WAIT_VERIFY(stateNumber() == 5, 20000);
    QVERIFY(QFileInfo(m_tree.path(LINK)).isSymLink());
    QVERIFY(inside({QStringLiteral("ls"), stateDir}).indexOf(QLatin1String("upgradable")) < 0);
    // The configuration could not be frozen for the upgrade.
    QVERIFY(DaemonProcess::waitForLog(QRegularExpression(
            QStringLiteral("ERROR Cannot copy \\S+/kirta-update-daemon.conf to "))));
    QVERIFY(daemon.isRunning());
}

// Qt does not reconnect a lost bus: the daemon leaves with status 1 so
// that systemd restarts it, and the new instance registers on the new bus.
// The detached download outlives it.
void TestFaults::lostBusEndsTheDaemon()
{
    QVERIFY(m_tree.setStandInOutput(QStringLiteral("apt"), UPGRADABLE));
    setStage(QStringLiteral("update"), QStringLiteral("exit 1"));
    setStage(QStringLiteral("download"), QStringLiteral("sleep 30"));
    const QByteArray configBefore = readBytes(m_tree.path(CONFIG_PATH));

    PrivateBus first;
    QVERIFY2(first.start(), qPrintable(first.errorString()));
    const QDBusConnection firstConnection
            = QDBusConnection::connectToBus(first.address(), QStringLiteral("fault-first"));
    QVERIFY(firstConnection.isConnected());
    DaemonProcess daemon(program());
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon, firstConnection));
    KIRTA_WAIT_VERIFY(stageRuns(QStringLiteral("download")).size() == 1, 10000);
    const qint64 download = stageRuns(QStringLiteral("download")).first();
    // The run may note itself before the daemon's thread gets to publish
    // the move that started it.
    KIRTA_WAIT_VERIFY(stateNumber(firstConnection) == 3, 10000);

    first.stop();
    QDBusConnection::disconnectFromBus(QStringLiteral("fault-first"));
    QCOMPARE(daemon.waitForExit(10000), 1);
    QVERIFY(DaemonProcess::logText().contains(
            QLatin1String("ERROR Lost the connection to the system bus, exiting")));
    QVERIFY(processAlive(download));
    QCOMPARE(readBytes(m_tree.path(CONFIG_PATH)), configBefore);

    PrivateBus second;
    QVERIFY2(second.start(), qPrintable(second.errorString()));
    const QDBusConnection secondConnection
            = QDBusConnection::connectToBus(second.address(), QStringLiteral("fault-second"));
    DaemonProcess restarted(program());
    QVERIFY(restarted.start());
    QVERIFY(waitForName(restarted, secondConnection));
    KIRTA_WAIT_VERIFY(stateNumber(secondConnection) == 3, 10000);
    restarted.kill();
    QDBusConnection::disconnectFromBus(QStringLiteral("fault-second"));
}

// The clock set back across a passed deadline: the deadline counts as not
// passed (no arming) until the clock passes it again, which the next
// deadline check (T_end_check, one minute) notices.
void TestFaults::clockSetBackAcrossDeadline()
{
    if (!QFileInfo::exists(FAKETIME_LIBRARY))
        QSKIP("libfaketime is not installed");
    const QString clockFile = m_binDir + QStringLiteral("/faketime.rc");
    auto setClock = [&](const QByteArray &offset) {
        QFile file(clockFile);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
               && file.write(offset + '\n') == offset.size() + 1;
    };
    QVERIFY(setClock("+0"));

    const QString deadline = QDateTime::currentDateTime().addSecs(-3600).toString(DATE_FORMAT);
    QVERIFY(m_tree.writeFile(CONFIG_PATH,
                             config() + "T_delay=3\nT_end=" + deadline.toUtf8() + '\n'));
    QVERIFY(m_tree.setStandInOutput(QStringLiteral("apt"), UPGRADABLE));
    setStage(QStringLiteral("update"), QStringLiteral("exit 1"));

    DaemonProcess daemon(program());
    daemon.setEnvironmentValue(QStringLiteral("LD_PRELOAD"), FAKETIME_LIBRARY);
    daemon.setEnvironmentValue(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), clockFile);
    daemon.setEnvironmentValue(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
    // Timers run on the monotonic clock, which a clock change leaves alone.
    daemon.setEnvironmentValue(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    daemon.setEnvironmentValue(QStringLiteral("FAKETIME_ONLY_CMDS"),
                               QStringLiteral("kirta-update-daemon"));
    QElapsedTimer sinceStart;
    sinceStart.start();
    QVERIFY(daemon.start());
    QVERIFY(waitForName(daemon));
    const qint64 pid = daemon.pid();
    const auto removeShm = qScopeGuard([pid] {
        QFile::remove(QStringLiteral("/dev/shm/faketime_shm_%1").arg(pid));
        QFile::remove(QStringLiteral("/dev/shm/sem.faketime_sem_%1").arg(pid));
    });

    // Two hours back: the deadline lies an hour ahead again.
    QVERIFY(setClock("-2h"));
    const QString fakeYear = QDateTime::currentDateTime().addSecs(-7200).toString("yyyy-MM-dd hh");
    KIRTA_WAIT_VERIFY(stateNumber() == 4, DOWNLOAD_TIMEOUT_MS);
    QVERIFY2(DaemonProcess::logText().contains(fakeYear),
             "the daemon's clock did not move back: libfaketime does not reach it");
    QVERIFY(!DaemonProcess::logText().contains(QLatin1String("Trying to enable update")));
    QCOMPARE(call(QStringLiteral("getUpdateDateAsString")).arguments().value(0).toString(),
             deadline);
    QCOMPARE(lineValue(readBytes(m_tree.path(CONFIG_PATH)), "T_end"), deadline);

    // The clock passes the deadline again: the next check arms, and the
    // state says the deadline forced it.
    QVERIFY(setClock("+0"));
    KIRTA_WAIT_VERIFY(stateNumber() == 6, int(75000 - sinceStart.elapsed()));
    QVERIFY(QFileInfo(m_tree.path(LINK)).isSymLink());

    // Back again: still armed, the deadline no longer counts as passed.
    QVERIFY(setClock("-2h"));
    QCOMPARE(stateNumber(), 5);
    QVERIFY(daemon.isRunning());
    daemon.kill();
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
