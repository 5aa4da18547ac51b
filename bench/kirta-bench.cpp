// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// Measures the running sandboxed daemon: round trips of its read-only
// methods against the bus's floor (Peer.Ping), its idle memory and its idle
// wake-ups. Prints Markdown on standard output, progress on standard error.
// bench/run sets up the tree, the private bus and the daemon around it.

#include "constants.h"
#include "processprobe.h"
#include "roundtrips.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {
const QStringList GETTERS = {
        QStringLiteral("getCurrentStateAsString"), QStringLiteral("getCurrentStateAsInt"),
        QStringLiteral("getCurrentErrorAsInt"),    QStringLiteral("getUpdateDateAsString"),
        QStringLiteral("getMinorUpdateVersion"),   QStringLiteral("isUpgradeOnRebootEnabled"),
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void progress(const QString &text)
{
    err() << "kirta-bench: " << text << Qt::endl;
}

QString cpuDescription()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    QString model;
    int processors = 0;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray key = line.left(colon).trimmed();
            if (key == "processor")
                ++processors;
            else if (model.isEmpty() && (key == "model name" || key == "Hardware"))
                model = QString::fromUtf8(line.mid(colon + 1).trimmed());
        }
    }
    if (model.isEmpty())
        model = QSysInfo::currentCpuArchitecture();
    if (processors == 0)
        processors = QThread::idealThreadCount();
    return QStringLiteral("%1, %2 logical cores").arg(model).arg(processors);
}

// Other work on the machine shows in the tail percentiles.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("n/a");
    const QList<QByteArray> fields = file.readAll().split(' ');
    return QString::fromLatin1(fields.mid(0, 3).join(' '));
}

QString microseconds(double us)
{
    return QString::number(us, 'f', 1);
}

// Waits until the daemon's name is on the bus.
bool waitForService(const QDBusConnection &bus, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!bus.interface()->isServiceRegistered(DBUS_SERVICE_NAME)) {
        if (elapsed.hasExpired(timeoutMs))
            return false;
        QThread::msleep(50);
    }
    return true;
}

// Waits until the daemon has no child left and used no CPU time for
// `quietMs`: its first check is over and it waits for its timers.
bool waitUntilSettled(const ProcessProbe &probe, int quietMs, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QElapsedTimer quiet;
    quiet.start();
    qint64 lastTicks = -1;
    while (!elapsed.hasExpired(timeoutMs)) {
        if (!probe.isAlive())
            return false;
        const qint64 ticks = probe.activity().cpuTicks;
        if (ticks != lastTicks || probe.childCount() > 0) {
            lastTicks = ticks;
            quiet.restart();
        } else if (quiet.hasExpired(quietMs)) {
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

struct BusyRun
{
    QString error;
    RoundTrips::Result reads;
    qint64 changeAnsweredMs = 0;
};

// Makes the stage program's "clean" run last `seconds` (through the
// stand-in's delay file), asks for it with setStateFromOutside(0) without
// waiting for the answer, and times reads from the moment the run has
// started until shortly before it ends. The change's answer must not come
// before the reads are over: that shows the daemon's thread was held.
BusyRun timeWhileBusy(const QDBusConnection &bus, const RoundTrips &trips,
                      const ProcessProbe &probe, int seconds)
{
    BusyRun run;
    const QString delayPath = qEnvironmentVariable("KIRTA_SYSROOT")
                              + QStringLiteral("/standin/kirta-update-service.clean.delay");
    QFile delay(delayPath);
    if (!delay.open(QIODevice::WriteOnly) || delay.write(QByteArray::number(seconds)) < 0) {
        run.error = QStringLiteral("cannot write %1").arg(delayPath);
        return run;
    }
    delay.close();

    QDBusMessage stop = QDBusMessage::createMethodCall(DBUS_SERVICE_NAME, DBUS_OBJECT_PATH,
                                                       DBUS_INTERFACE_NAME,
                                                       QStringLiteral("setStateFromOutside"));
    stop << 0;
    QElapsedTimer elapsed;
    elapsed.start();
    const QDBusPendingCall change = bus.asyncCall(stop, (seconds + 60) * 1000);
    while (probe.childCount() == 0 && !change.isFinished() && !elapsed.hasExpired(10000))
        QThread::msleep(5);
    if (probe.childCount() == 0) {
        run.error = QStringLiteral("the stage run did not start");
        QFile::remove(delayPath);
        return run;
    }
    // Stop a second and a half early: the run's end is not ours to time.
    const qint64 until = seconds * 1000 - 1500;
    run.reads = trips.measureWhile(GETTERS, [&] { return elapsed.elapsed() < until; });
    const bool answeredEarly = change.isFinished();
    QDBusPendingCall waiting = change;
    waiting.waitForFinished();
    run.changeAnsweredMs = elapsed.elapsed();
    QFile::remove(delayPath);
    if (!run.reads.error.isEmpty())
        run.error = QStringLiteral("read failed: %1").arg(run.reads.error);
    else if (answeredEarly)
        run.error = QStringLiteral("setStateFromOutside(0) was answered while reads were timed: "
                                   "the stage run did not hold the daemon's thread");
    else if (waiting.isError())
        run.error = QStringLiteral("setStateFromOutside(0) failed: %1")
                            .arg(waiting.error().message());
    return run;
}

QString memoryText(const ProcessProbe::Memory &memory, qint64 ProcessProbe::Memory::*field)
{
    return memory.ok ? QStringLiteral("%1 kB").arg(memory.*field) : QStringLiteral("n/a");
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kirta-bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Round trips, idle memory and idle wake-ups of the daemon on the system bus "
            "(DBUS_SYSTEM_BUS_ADDRESS)."));
    parser.addHelpOption();
    const QCommandLineOption countOption(QStringLiteral("count"),
                                         QStringLiteral("Timed calls per method (default 2000)."),
                                         QStringLiteral("n"), QStringLiteral("2000"));
    const QCommandLineOption warmUpOption(QStringLiteral("warm-up"),
                                          QStringLiteral("Untimed calls first (default 200)."),
                                          QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption idleOption(
            QStringLiteral("idle-seconds"),
            QStringLiteral("Window for the idle wake-ups, 0 to skip (default 60)."),
            QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption settleOption(
            QStringLiteral("settle-timeout"),
            QStringLiteral("Longest wait for the daemon to appear and go quiet (default 60)."),
            QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption quietOption(
            QStringLiteral("quiet-seconds"),
            QStringLiteral("CPU-quiet time that counts as settled (default 2)."),
            QStringLiteral("s"), QStringLiteral("2"));
    const QCommandLineOption noteOption(QStringLiteral("note"),
                                        QStringLiteral("A line for the header (repeatable)."),
                                        QStringLiteral("text"));
    const QCommandLineOption busyOption(
            QStringLiteral("busy-seconds"),
            QStringLiteral("Length of a stage run that holds the daemon's thread while reads are "
                           "timed, 0 to skip (default 20; needs the stand-ins of bench/run)."),
            QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption mappingsOption(
            QStringLiteral("mappings"),
            QStringLiteral("Also list the settled daemon's Private_Dirty by mapping (file and "
                           "permissions, heap, stack, anonymous), to tell where a change goes."));
    parser.addOptions({countOption, warmUpOption, idleOption, settleOption, quietOption, noteOption,
                       busyOption, mappingsOption});
    parser.process(app);

    bool ok = true;
    const auto number = [&](const QCommandLineOption &option, int minimum) {
        bool valid = false;
        const int value = parser.value(option).toInt(&valid);
        if (!valid || value < minimum) {
            progress(QStringLiteral("--%1 wants a whole number of at least %2")
                             .arg(option.names().constFirst())
                             .arg(minimum));
            ok = false;
        }
        return value;
    };
    const int count = number(countOption, 1);
    const int warmUp = number(warmUpOption, 0);
    const int idleSeconds = number(idleOption, 0);
    const int settleSeconds = number(settleOption, 1);
    const int quietSeconds = number(quietOption, 1);
    const int busySeconds = number(busyOption, 0);
    if (!ok)
        return 2;

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        progress(QStringLiteral("no system bus: %1").arg(bus.lastError().message()));
        return 1;
    }
    if (!waitForService(bus, settleSeconds * 1000)) {
        progress(QStringLiteral("%1 did not appear on the bus").arg(DBUS_SERVICE_NAME));
        return 1;
    }
    const qint64 pid = bus.interface()->servicePid(DBUS_SERVICE_NAME).value();
    if (pid <= 0) {
        progress(QStringLiteral("the bus does not tell the daemon's process id"));
        return 1;
    }
    const ProcessProbe probe(pid);
    progress(QStringLiteral("daemon pid %1, waiting until it settles").arg(pid));
    if (!waitUntilSettled(probe, quietSeconds * 1000, settleSeconds * 1000)) {
        progress(QStringLiteral("the daemon did not settle within %1 s").arg(settleSeconds));
        return 1;
    }

    const RoundTrips trips(bus, DBUS_SERVICE_NAME, DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME);
    const QString pingError = trips.ping();
    if (!pingError.isEmpty()) {
        progress(QStringLiteral("Peer.Ping failed: %1").arg(pingError));
        return 1;
    }
    const QDateTime started = QDateTime::currentDateTime();
    const QString loadAtStart = loadAverage();
    const ProcessProbe::Memory settledMemory = probe.memory();
    const QVector<QPair<QString, qint64>> settledMappings
            = parser.isSet(mappingsOption) ? probe.privateDirtyByMapping()
                                           : QVector<QPair<QString, qint64>>();

    // The bench keeps off the bus during the window: the daemon's timers
    // and threads are all that runs.
    ProcessProbe::Activity before;
    ProcessProbe::Activity after;
    if (idleSeconds > 0) {
        progress(QStringLiteral("counting idle wake-ups for %1 s").arg(idleSeconds));
        before = probe.activity();
        for (int second = 0; second < idleSeconds; ++second) {
            QThread::sleep(1);
            if (!probe.isAlive()) {
                progress(QStringLiteral("the daemon ended during the idle window"));
                return 1;
            }
        }
        after = probe.activity();
    }

    QVector<RoundTrips::Result> results;
    QVector<qint64> allPings;
    for (const QString &method : GETTERS) {
        progress(QStringLiteral("%1: %2 + %3 pairs with Peer.Ping")
                         .arg(method)
                         .arg(warmUp)
                         .arg(count));
        const RoundTrips::Result result = trips.measure(method, warmUp, count);
        if (!result.error.isEmpty()) {
            progress(QStringLiteral("call failed: %1").arg(result.error));
            return 1;
        }
        allPings += result.pingNs;
        results.append(result);
    }
    const ProcessProbe::Memory loadedMemory = probe.memory();

    BusyRun busy;
    if (busySeconds > 0) {
        progress(QStringLiteral("timing reads while a %1 s stage run holds the daemon's thread")
                         .arg(busySeconds));
        busy = timeWhileBusy(bus, trips, probe, busySeconds);
        if (!busy.error.isEmpty()) {
            progress(busy.error);
            return 1;
        }
    }

    QTextStream out(stdout);
    out.setCodec("UTF-8");
    out << "### kirta-bench, " << started.toString(Qt::ISODate) << "\n\n";
    out << "- CPU: " << cpuDescription() << "\n";
    out << "- system: " << QSysInfo::prettyProductName() << ", kernel " << QSysInfo::kernelVersion()
        << "\n";
    out << "- Qt " << qVersion() << ", build " << KIRTA_BENCH_BUILD_TYPE << "\n";
    out << "- load average at the start: " << loadAtStart << ", at the end: " << loadAverage()
        << "\n";
    for (const QString &note : parser.values(noteOption))
        out << "- " << note << "\n";
    out << "\n";

    out << "Round trips, blocking calls over a private bus: " << count << " per method after "
        << warmUp << " warm-up calls, each paired with a Peer.Ping to the daemon "
        << "(order alternating). Microseconds.\n\n";
    out << "| method | answer | median | p90 | p99 | Ping median | median minus Ping |\n";
    out << "|---|---|--:|--:|--:|--:|--:|\n";
    for (const RoundTrips::Result &result : results) {
        const RoundTrips::Percentiles call = RoundTrips::percentiles(result.callNs);
        const RoundTrips::Percentiles ping = RoundTrips::percentiles(result.pingNs);
        out << "| " << result.method << " | " << result.answer.toString() << " | "
            << microseconds(call.medianUs) << " | " << microseconds(call.p90Us) << " | "
            << microseconds(call.p99Us) << " | " << microseconds(ping.medianUs) << " | "
            << microseconds(call.medianUs - ping.medianUs) << " |\n";
    }
    const RoundTrips::Percentiles pings = RoundTrips::percentiles(allPings);
    out << "| Peer.Ping, all " << allPings.size() << " | | " << microseconds(pings.medianUs)
        << " | " << microseconds(pings.p90Us) << " | " << microseconds(pings.p99Us) << " | | |\n\n";

    if (busySeconds > 0) {
        const RoundTrips::Percentiles call = RoundTrips::percentiles(busy.reads.callNs);
        const RoundTrips::Percentiles ping = RoundTrips::percentiles(busy.reads.pingNs);
        const double ratio = ping.medianUs > 0 ? call.medianUs / ping.medianUs : 0;
        out << "While a stage run held the daemon's thread for " << busySeconds
            << " s (the stage program's \"clean\" run of setStateFromOutside(0), answered after "
            << QString::number(busy.changeAnsweredMs / 1000.0, 'f', 1)
            << " s): " << busy.reads.callNs.size()
            << " read calls through the six getters in turn, each paired with a Peer.Ping. "
               "Microseconds.\n\n";
        out << "| reads | median | p90 | p99 | Ping median | Ping p99 | median / Ping median |\n";
        out << "|---|--:|--:|--:|--:|--:|--:|\n";
        out << "| all six getters | " << microseconds(call.medianUs) << " | "
            << microseconds(call.p90Us) << " | " << microseconds(call.p99Us) << " | "
            << microseconds(ping.medianUs) << " | " << microseconds(ping.p99Us) << " | "
            << QString::number(ratio, 'f', 2) << " |\n\n";
        out << "Aim: p99 at most 2000 us and median at most 1.5 x the Ping median: "
            << (call.p99Us <= 2000 && ratio <= 1.5 ? "met" : "NOT met") << ".\n\n";
    }

    out << "| idle daemon | value |\n|---|--:|\n";
    out << "| Private_Dirty, settled | "
        << memoryText(settledMemory, &ProcessProbe::Memory::privateDirtyKb) << " |\n";
    out << "| Rss, settled | " << memoryText(settledMemory, &ProcessProbe::Memory::rssKb) << " |\n";
    out << "| Private_Dirty, after the round trips | "
        << memoryText(loadedMemory, &ProcessProbe::Memory::privateDirtyKb) << " |\n";
    out << "| Rss, after the round trips | "
        << memoryText(loadedMemory, &ProcessProbe::Memory::rssKb) << " |\n";
    if (idleSeconds > 0 && before.ok && after.ok) {
        const qint64 voluntary = after.voluntarySwitches - before.voluntarySwitches;
        const qint64 involuntary = after.involuntarySwitches - before.involuntarySwitches;
        const double perMinute = (voluntary + involuntary) * 60.0 / idleSeconds;
        const qint64 cpuMs
                = (after.cpuTicks - before.cpuTicks) * 1000 / ProcessProbe::ticksPerSecond();
        out << "| context switches in " << idleSeconds
            << " s, all threads (voluntary + involuntary) | " << voluntary << " + " << involuntary
            << " |\n";
        out << "| context switches per minute | " << QString::number(perMinute, 'f', 1) << " |\n";
        out << "| CPU time in the window | " << cpuMs << " ms |\n";
        out << "| threads | " << after.threads.size()
            << (after.threads == before.threads ? "" : " (the set changed: counts are partial)")
            << " |\n";
    }
    if (parser.isSet(mappingsOption)) {
        // Read a moment after the rollup above, so the sum may differ from
        // it by a page or two.
        qint64 total = 0;
        out << "\nPrivate_Dirty of the settled daemon by mapping:\n\n";
        out << "| mapping | Private_Dirty |\n|---|--:|\n";
        for (const QPair<QString, qint64> &row : settledMappings) {
            out << "| " << row.first << " | " << row.second << " kB |\n";
            total += row.second;
        }
        out << "| all | " << total << " kB |\n";
    }
    return 0;
}
