// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "triggerchecker.h"

#include "childprocess.h"
#include "constants.h"
#include "logger.h"
#include "lvmsnapshots.h"

#include <QFile>

namespace {
// A valid trigger line has 16 characters. Longer lines are garbage, and a
// file without line ends must not be read into memory whole.
const qint64 MAX_LINE_BYTES = 4096;

const unsigned int FULL_PERCENT = 100;

// The trigger time as local time. A time that the clock skips when summer
// time starts would be invalid and never pass; it counts from the end of the
// skipped hour instead.
QDateTime parseTriggerTime(const QString &text)
{
    // UTC has no gaps, so this only checks the form.
    const QDateTime wall = QDateTime::fromString(text + QStringLiteral(" Z"),
                                                 DATE_TIME_FORMAT + QStringLiteral(" t"));
    if (!wall.isValid())
        return QDateTime();
    const QDateTime local(wall.date(), wall.time(), Qt::LocalTime);
    if (local.isValid())
        return local;
    const QDateTime dayBefore(wall.date().addDays(-1), wall.time(), Qt::LocalTime);
    if (!dayBefore.isValid())
        return QDateTime();
    // Read with the offset in force before the jump, which lands just past it.
    return QDateTime::fromMSecsSinceEpoch(wall.toMSecsSinceEpoch()
                                          - qint64(dayBefore.offsetFromUtc()) * 1000);
}
} // namespace

TriggerChecker::TriggerChecker(const QString &program, Logger *logger, QObject *parent)
    : QObject(parent)
    , m_interval(DEFAULT_INTERVAL_MS)
    , m_logger(logger)
    , m_script(program, logger)
{
    m_timer.setInterval(m_interval);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &TriggerChecker::m_checkTrigger);
}

// A snapshot manager still running is killed with its process object.
TriggerChecker::~TriggerChecker() = default;

void TriggerChecker::startTriggerCheck()
{
    if (m_script.snapshotManagerInstalled() && QFile::exists(TRIGGER_FILE_PATH)) {
        m_logger->info(QStringLiteral("Start checking automatization trigger"));
        m_timer.start();
        return;
    }
    m_logger->info(
            QStringLiteral("Snapshot manager is not installed or trigger file does not exist"));
}

void TriggerChecker::m_checkTrigger()
{
    if (m_script.automatizationEnabled()) {
        m_logger->info(QStringLiteral("Automatization is already enabled"));
        removeTriggerFile();
        stopTriggerCheck();
        return;
    }
    if (!isSnapshotFull(m_logger) && !isTriggerTimePassed()) {
        m_logger->info(QStringLiteral("Automatization is not enabled yet"));
        return;
    }
    m_logger->info(QStringLiteral("Enabling automatization"));
    enableAutomatization();
    removeTriggerFile();
    stopTriggerCheck();
}

void TriggerChecker::stopTriggerCheck()
{
    m_logger->info(QStringLiteral("Stop checking automatization"));
    m_timer.stop();
}

void TriggerChecker::removeTriggerFile()
{
    if (QFile::remove(TRIGGER_FILE_PATH))
        m_logger->info(QStringLiteral("Trigger file removed"));
    else
        m_logger->error(QStringLiteral("Failed to remove trigger file"));
}

// The wait is bounded so that a hanging manager cannot freeze the daemon's
// event loop (timers, D-Bus) for good. The manager is not killed at the
// bound, since it may be half-way through changing volumes; it goes on in
// the background and its exit code is logged when it ends.
void TriggerChecker::enableAutomatization()
{
    auto *process = new ChildProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProgram(SNAPSHOTS_MANAGER_PATH);
    process->setArguments({QStringLiteral("-r")});
    if (process->run(m_managerTimeout, ChildProcess::Overrun::Leave, QIODevice::ReadOnly)
        != ChildProcess::Ending::Running) {
        m_reportManagerExit(*process);
        delete process;
        return;
    }
    m_logger->warning(QStringLiteral("%1 -r is still running after %2 ms, its result is logged "
                                     "when it ends")
                              .arg(SNAPSHOTS_MANAGER_PATH)
                              .arg(m_managerTimeout));
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, process]() {
                m_reportManagerExit(*process);
                process->deleteLater();
            });
}

// A manager that could not start or crashed has no exit code; it reads -1.
void TriggerChecker::m_reportManagerExit(const QProcess &process)
{
    const bool exited = process.error() != QProcess::FailedToStart
                        && process.exitStatus() == QProcess::NormalExit;
    const int code = exited ? process.exitCode() : -1;
    if (code != 0)
        m_logger->error(QStringLiteral("Failed to start automatization, exitCode = %1").arg(code));
}

bool TriggerChecker::isTriggerTimePassed()
{
    const QDateTime triggerTime = m_getDateTimeFromTrigger();
    m_logger->info(QStringLiteral("trigger date time = %1")
                           .arg(triggerTime.isValid() ? triggerTime.toString(DATE_TIME_FORMAT)
                                                      : QString()));
    return triggerTime.isValid() && QDateTime::currentDateTime() >= triggerTime;
}

QDateTime TriggerChecker::m_getDateTimeFromTrigger() const
{
    QFile file(TRIGGER_FILE_PATH);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_logger->error(QStringLiteral("Failed to open trigger file"));
        return QDateTime();
    }
    const QByteArray raw = file.readLine(MAX_LINE_BYTES);
    const bool cutShort = raw.size() >= MAX_LINE_BYTES && !raw.endsWith('\n');
    QString line = QString::fromLocal8Bit(raw);
    if (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    m_logger->debug(KIRTA_WHERE, QStringLiteral("string in trigger_file = %1").arg(line));
    if (cutShort) {
        m_logger->warning(QStringLiteral("First line of trigger file is longer than %1 bytes")
                                  .arg(MAX_LINE_BYTES));
        return QDateTime();
    }
    return parseTriggerTime(line.trimmed());
}

bool TriggerChecker::isChecking() const
{
    return m_timer.isActive();
}

void TriggerChecker::setInterval(int ms)
{
    m_interval = ms;
    m_timer.setInterval(ms);
}

int TriggerChecker::interval() const
{
    return m_interval;
}

void TriggerChecker::setManagerTimeout(int ms)
{
    m_managerTimeout = ms;
}

int TriggerChecker::managerTimeout() const
{
    return m_managerTimeout;
}

bool isSnapshotFull(Logger *logger)
{
    char **snapshots = existing_lvm_snapshots();
    bool full = false;
    if (!snapshots || !snapshots[0]) {
        logger->warning(QStringLiteral("snapshots == NULL or snapshots[0] == NULL"));
    } else {
        const unsigned int percent = lvm_snapshot_filling_percent(snapshots[0]);
        logger->info(QStringLiteral("Snapshot fill percent is %1").arg(percent));
        full = percent == FULL_PERCENT;
    }
    free_existing_lvm_snapshots(snapshots);
    return full;
}
