// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "healthcheck.h"

#include "atomicwrite.h"
#include "childprocess.h"
#include "constants.h"
#include "statussnapshot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <limits>
#include <memory>

#include <unistd.h>

namespace {
constexpr std::chrono::milliseconds SYSTEMCTL_TIMEOUT {30000};
constexpr int BUS_PING_TIMEOUT_MS = 10000;
const char *const SNAPSHOT_ROLLBACK_OPTION = "-b";

bool onlyRootMayChange(const QFileInfo &info)
{
    return info.ownerId() == ::geteuid()
           && !(info.permissions() & (QFile::WriteGroup | QFile::WriteOther));
}

bool isLeftover(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char('~'))
           || name.contains(QLatin1String(".dpkg-")) || name.contains(QLatin1String(".ucf-"));
}
} // namespace

HealthCheck::HealthCheck(QObject *parent)
    : QObject(parent)
    , m_logger(LOG_FILE_PATH, Logger::Info)
{ }

HealthCheck::~HealthCheck() = default;

void HealthCheck::follow(const StatusSnapshot &snapshot)
{
    // The first snapshot only tells where the daemon stands: an upgrade
    // armed before this start has had its units recorded then.
    if (snapshot.armed && m_armedSeen && !m_wasArmed)
        m_recordFailedUnits();
    m_armedSeen = true;
    m_wasArmed = snapshot.armed;
}

void HealthCheck::m_recordFailedUnits()
{
    m_start(SYSTEMCTL_PATH,
            {QStringLiteral("list-units"), QStringLiteral("--state=failed"),
             QStringLiteral("--plain"), QStringLiteral("--no-legend"),
             QStringLiteral("--no-pager")},
            SYSTEMCTL_TIMEOUT, [this](int exitCode, bool ended, const QByteArray &output) {
                if (exitCode != 0 || ended) {
                    m_logger.warning(QStringLiteral("Cannot list the failed units at arming"));
                    return;
                }
                QStringList units = m_parseUnits(output).values();
                units.sort();
                if (!writeFileAtomically(FAILED_UNITS_PATH, units.join(QLatin1Char('\n')).toUtf8()))
                    m_logger.warning(QStringLiteral("Cannot write %1").arg(FAILED_UNITS_PATH));
            });
}

QSet<QString> HealthCheck::m_parseUnits(const QByteArray &output)
{
    QSet<QString> units;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        const QString unit = QString::fromUtf8(words.value(0));
        // "●" marks failed units on a terminal; --plain leaves it out, but
        // the name is what matters.
        if (unit.contains(QLatin1Char('.')))
            units.insert(unit);
    }
    return units;
}

void HealthCheck::run()
{
    m_reasons.clear();
    m_status = HealthStatus();
    m_status.result = QStringLiteral("checking");
    Q_EMIT statusChanged(m_status);
    const auto settle = std::chrono::duration_cast<std::chrono::milliseconds>(m_settleTimeout);
    m_start(SYSTEMCTL_PATH, {QStringLiteral("is-system-running"), QStringLiteral("--wait")}, settle,
            [this](int exitCode, bool ended, const QByteArray &output) {
                m_settled(exitCode, ended, output);
            });
}

void HealthCheck::m_settled(int, bool ended, const QByteArray &output)
{
    const QString state = QString::fromUtf8(output).trimmed();
    if (ended)
        m_reasons << QStringLiteral("the boot did not settle within %1 minutes")
                             .arg(m_settleTimeout.count());
    else if (state != QLatin1String("running") && state != QLatin1String("degraded"))
        m_reasons << QStringLiteral("the system is %1")
                             .arg(state.isEmpty() ? QStringLiteral("in an unknown state") : state);
    m_start(SYSTEMCTL_PATH,
            {QStringLiteral("list-units"), QStringLiteral("--state=failed"),
             QStringLiteral("--plain"), QStringLiteral("--no-legend"),
             QStringLiteral("--no-pager")},
            SYSTEMCTL_TIMEOUT, [this](int exitCode, bool timedOut, const QByteArray &units) {
                if (exitCode != 0 || timedOut)
                    m_reasons << QStringLiteral("cannot list the failed units");
                else
                    m_failedUnits(units);
                const QDir dir(HEALTH_CHECKS_DIR);
                m_adminChecks.clear();
                if (dir.exists()) {
                    if (!onlyRootMayChange(QFileInfo(dir.absolutePath())))
                        m_reasons << QStringLiteral("%1 refused: not owned by root or writable "
                                                    "by group or others")
                                             .arg(dir.absolutePath());
                    else
                        m_adminChecks = dir.entryList(QDir::Files | QDir::System, QDir::Name);
                }
                m_nextAdminCheck();
            });
}

void HealthCheck::m_failedUnits(const QByteArray &output)
{
    QSet<QString> before;
    QFile file(FAILED_UNITS_PATH);
    if (file.open(QIODevice::ReadOnly))
        before = m_parseUnits(file.readAll());
    QStringList failed = (m_parseUnits(output) - before).values();
    failed.sort();
    for (const QString &unit : failed)
        m_reasons << QStringLiteral("unit %1 failed").arg(unit);
}

void HealthCheck::m_nextAdminCheck()
{
    while (!m_adminChecks.isEmpty()) {
        const QString name = m_adminChecks.takeFirst();
        const QFileInfo info(QDir(HEALTH_CHECKS_DIR).filePath(name));
        if (isLeftover(name) || !info.isExecutable())
            continue;
        // Run as root: a check that someone else can change gives them root.
        if (info.isSymLink() || !onlyRootMayChange(info)) {
            m_reasons << QStringLiteral("check %1 refused: not owned by root or writable by "
                                        "group or others")
                                 .arg(name);
            continue;
        }
        m_start(info.absoluteFilePath(), {}, m_checkTimeout,
                [this, name](int exitCode, bool ended, const QByteArray &output) {
                    const QString said = QString::fromUtf8(output).trimmed().section('\n', 0, 0);
                    if (ended)
                        m_reasons << QStringLiteral("check %1 did not finish within %2 s")
                                             .arg(name)
                                             .arg(std::chrono::duration_cast<std::chrono::seconds>(
                                                          m_checkTimeout)
                                                          .count());
                    else if (exitCode != 0)
                        m_reasons << QStringLiteral("check %1 failed with code %2%3")
                                             .arg(name)
                                             .arg(exitCode)
                                             .arg(said.isEmpty() ? QString()
                                                                 : QStringLiteral(": ") + said);
                    m_nextAdminCheck();
                });
        return;
    }
    m_pingOwnBus();
}

void HealthCheck::m_pingOwnBus()
{
    // A connection of its own: a call on the daemon's connection would be
    // answered inside the process, without the bus.
    QDBusConnection probe = QDBusConnection::connectToBus(QDBusConnection::SystemBus,
                                                          QStringLiteral("kirta-health-probe"));
    QDBusMessage get = QDBusMessage::createMethodCall(
            DBUS_SERVICE_NAME, DBUS_OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
    get << DBUS_STATUS_INTERFACE_NAME << QStringLiteral("State");
    auto *watcher = new QDBusPendingCallWatcher(probe.asyncCall(get, BUS_PING_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        if (w->isError())
            m_reasons << QStringLiteral("the daemon's bus object does not answer: %1")
                                 .arg(w->error().message());
        w->deleteLater();
        QDBusConnection::disconnectFromBus(QStringLiteral("kirta-health-probe"));
        m_finish();
    });
}

void HealthCheck::m_finish()
{
    m_status.result = m_reasons.isEmpty() ? QStringLiteral("healthy") : QStringLiteral("unhealthy");
    m_status.reasons = m_reasons;
    m_status.checked = QDateTime::currentDateTime();
    if (m_reasons.isEmpty())
        m_logger.info(QStringLiteral("Health after the upgrade boot: healthy"));
    else
        m_logger.error(QStringLiteral("Health after the upgrade boot: unhealthy: %1")
                               .arg(m_reasons.join(QStringLiteral("; "))));
    Q_EMIT statusChanged(m_status);
    if (m_reasons.isEmpty()) {
        Q_EMIT healthy();
        return;
    }
    Q_EMIT unhealthy(m_reasons);
    if (m_rollback)
        m_rollBack();
}

void HealthCheck::m_rollBack()
{
    if (!QFile::exists(SNAPSHOT_STAMP_PATH) || !QFileInfo(SNAPSHOTS_MANAGER_PATH).isExecutable()) {
        m_logger.warning(QStringLiteral("Health_rollback is on, but no snapshot was taken "
                                        "before the upgrade: reporting only"));
        return;
    }
    m_logger.warning(QStringLiteral("Rolling back to the snapshot taken before the upgrade"));
    ChildProcess manager;
    manager.setProgram(SNAPSHOTS_MANAGER_PATH);
    manager.setArguments({QLatin1String(SNAPSHOT_ROLLBACK_OPTION)});
    manager.setProcessChannelMode(QProcess::ForwardedChannels);
    // As the stage program runs it: without a bound, a rollback cut off
    // would leave the machine in between.
    manager.run(-1);
    if (manager.ending() != ChildProcess::Ending::Exited || manager.exitCode() != 0) {
        m_logger.error(QStringLiteral("Snapshot manager: rollback %1, not restarting")
                               .arg(manager.describe(-1)));
        return;
    }
    m_logger.warning(QStringLiteral("Rolled back, restarting the machine"));
    ChildProcess reboot;
    reboot.setProgram(SYSTEMCTL_PATH);
    reboot.setArguments({QStringLiteral("reboot")});
    reboot.run(int(SYSTEMCTL_TIMEOUT.count()));
}

void HealthCheck::m_start(const QString &program, const QStringList &arguments,
                          std::chrono::milliseconds timeout, Done done)
{
    delete m_process;
    delete m_bound;
    auto *process = new ChildProcess(this);
    m_process = process;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    auto *bound = new QTimer(this);
    m_bound = bound;
    bound->setSingleShot(true);
    bound->setInterval(int(qBound<qint64>(0, timeout.count(), std::numeric_limits<int>::max())));
    auto called = std::make_shared<bool>(false);
    auto finish = [this, process, bound, done, called](bool ended) {
        if (*called)
            return;
        *called = true;
        bound->stop();
        QObject::disconnect(process, nullptr, this, nullptr);
        // A program that could not start has no exit code to trust.
        const bool noCode = ended || process->error() == QProcess::FailedToStart
                            || process->exitStatus() != QProcess::NormalExit;
        const int code = noCode ? -1 : process->exitCode();
        const QByteArray output = process->readAllStandardOutput();
        // Deleted once the callback is done with it; a new step replaces
        // these members first.
        m_process = nullptr;
        m_bound = nullptr;
        process->deleteLater();
        bound->deleteLater();
        done(code, ended, output);
    };
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [finish] { finish(false); });
    connect(process, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(false);
    });
    connect(bound, &QTimer::timeout, this, [process, finish] {
        process->end();
        finish(true);
    });
    process->run(0, ChildProcess::Overrun::Leave, QIODevice::ReadOnly);
    if (process->ending() != ChildProcess::Ending::Running) {
        // Ended (or failed to start) within the run itself.
        // A newer step may replace (and delete) this one before then.
        const QPointer<ChildProcess> alive(process);
        QTimer::singleShot(0, this, [finish, alive] {
            if (!alive)
                return;
            finish(alive->ending() != ChildProcess::Ending::Exited
                   && alive->ending() != ChildProcess::Ending::Crashed
                   && alive->ending() != ChildProcess::Ending::FailedToStart);
        });
        return;
    }
    bound->start();
}
