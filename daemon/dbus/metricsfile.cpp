// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "metricsfile.h"

#include "atomicwrite.h"
#include "constants.h"
#include "rebootlock.h"
#include "statussnapshot.h"
#include "sysroot.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QVector>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The collector reads the file as an account of its own.
constexpr int FILE_MODE = 0644;
constexpr int DIRECTORY_MODE = 0755;

void metric(QByteArray &text, const char *name, const char *help, qint64 value,
            const QByteArray &labels = QByteArray())
{
    text += QByteArray("# HELP ") + name + ' ' + help + '\n';
    text += QByteArray("# TYPE ") + name + " gauge\n";
    text += name + labels + ' ' + QByteArray::number(value) + '\n';
}

// A counter since the daemon's start, one series per label value; every
// value is written, 0 included, so that rate() sees the first increase.
void counter(QByteArray &text, const char *name, const char *help, const char *label,
             const QVector<QPair<QString, qint64>> &values)
{
    text += QByteArray("# HELP ") + name + ' ' + help + '\n';
    text += QByteArray("# TYPE ") + name + " counter\n";
    for (const auto &value : values) {
        text += name;
        if (label)
            text += QByteArray("{") + label + "=\"" + value.first.toUtf8() + "\"}";
        text += ' ' + QByteArray::number(value.second) + '\n';
    }
}

// When the process started: a counter that starts again from 0 is told
// apart from one that went down.
const qint64 PROCESS_START = QDateTime::currentSecsSinceEpoch();

// VERSION_ID and PRETTY_NAME of os-release, read once: they change only
// with a restart into a new release.
QPair<QString, QString> osRelease()
{
    static const QPair<QString, QString> release = [] {
        QPair<QString, QString> found;
        for (const char *place : {"/etc/os-release", "/usr/lib/os-release"}) {
            QFile file(Sysroot::path(QString::fromLatin1(place)));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (const QByteArray &line : lines) {
                const int equals = line.indexOf('=');
                if (equals < 0)
                    continue;
                const QByteArray key = line.left(equals).trimmed();
                QByteArray quoted = line.mid(equals + 1).trimmed();
                if (quoted.size() >= 2 && (quoted.startsWith('"') || quoted.startsWith('\'')))
                    quoted = quoted.mid(1, quoted.size() - 2);
                // Shell quoting: a backslash takes the next character as it is.
                QByteArray plain;
                for (int i = 0; i < quoted.size(); ++i) {
                    if (quoted.at(i) == '\\' && i + 1 < quoted.size())
                        ++i;
                    plain += quoted.at(i);
                }
                const QString value = QString::fromUtf8(plain);
                if (key == "VERSION_ID")
                    found.first = value;
                else if (key == "PRETTY_NAME")
                    found.second = value;
            }
            break;
        }
        return found;
    }();
    return release;
}

// Label values: backslash, double quote and newline are escaped.
QByteArray labelValue(const QString &value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return text;
}
// Creates `dir` and whatever is missing above it, each DIRECTORY_MODE
// whatever the umask.
bool makeDirectory(const QString &dir, QString *error)
{
    if (QFileInfo(dir).isDir())
        return true;
    const QString parent = QFileInfo(dir).path();
    if (parent != dir && !makeDirectory(parent, error))
        return false;
    const QByteArray name = QFile::encodeName(dir);
    if (::mkdir(name.constData(), DIRECTORY_MODE) != 0) {
        if (errno == EEXIST && QFileInfo(dir).isDir())
            return true;
        *error = QStringLiteral("%1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Through a descriptor: whatever may have taken the name meanwhile is
    // not given the mode.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::fchmod(fd, DIRECTORY_MODE);
        ::close(fd);
    }
    return true;
}
} // namespace

MetricsFile::MetricsFile()
    : m_logger(LOG_FILE_PATH, Logger::Info)
{ }

QByteArray MetricsFile::render(const StatusSnapshot &snapshot)
{
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray text;
    metric(text, "kirta_update_state",
           "State number as getCurrentStateAsInt answers; the label is the state word.",
           snapshot.stateNumber(now), "{state=\"" + labelValue(snapshot.stateWord(now)) + "\"}");
    metric(text, "kirta_update_error", "Error number as getCurrentErrorAsInt answers, -1 none.",
           snapshot.error);
    metric(text, "kirta_update_armed", "1 when the upgrade is armed for the next reboot.",
           snapshot.armed ? 1 : 0);
    metric(text, "kirta_update_forced", "1 in forced mode.", snapshot.forcedMode ? 1 : 0);
    metric(text, "kirta_update_deadline_seconds",
           "The upgrade deadline as UNIX time, 0 when unset.",
           StatusSnapshot::unixTime(snapshot.deadline));
    metric(text, "kirta_update_last_check_seconds",
           "UNIX time of the last successful check, 0 when none since the daemon started.",
           StatusSnapshot::unixTime(snapshot.lastCheck));
    metric(text, "kirta_update_state_changed_seconds",
           "UNIX time when the state last changed (or the daemon started).",
           StatusSnapshot::unixTime(snapshot.stateChanged));
    metric(text, "kirta_update_last_success_seconds",
           "UNIX time when the last successful offline upgrade began, 0 when unknown.",
           StatusSnapshot::unixTime(snapshot.lastSuccess));
    metric(text, "kirta_update_pending_packages", "Number of packages to be upgraded.",
           snapshot.packageNames().size());
    metric(text, "kirta_update_restart_planned_seconds",
           "The planned automatic restart as UNIX time, 0 when none; the label says what "
           "keeps it from happening now.",
           StatusSnapshot::unixTime(snapshot.restart.planned),
           "{blocked_by=\"" + labelValue(snapshot.restart.reason) + "\"}");
    text += "# HELP kirta_update_last_result Result of the last upgrade at reboot: 1 for the one "
            "that holds.\n# TYPE kirta_update_last_result gauge\n";
    for (const char *result : {"none", "successful", "unsuccessful"}) {
        text += QByteArray("kirta_update_last_result{result=\"") + result + "\"} "
                + (snapshot.lastResult == QLatin1String(result) ? "1\n" : "0\n");
    }
    text += "# HELP kirta_update_health Check after the last upgrade boot: 1 for the one that "
            "holds.\n# TYPE kirta_update_health gauge\n";
    for (const char *result : {"none", "checking", "healthy", "unhealthy"}) {
        text += QByteArray("kirta_update_health{result=\"") + result + "\"} "
                + (snapshot.health.result == QLatin1String(result) ? "1\n" : "0\n");
    }
    metric(text, "kirta_update_download_held", "1 while no download starts (metered connection).",
           snapshot.power.downloadHeld.isEmpty() ? 0 : 1);
    metric(text, "kirta_update_postponed_for_power",
           "1 when the last install boot left the upgrade armed for lack of power.",
           snapshot.power.postponedForPower.isEmpty() ? 0 : 1);
    metric(text, "kirta_update_reboot_lock_held",
           "1 while this machine holds a slot of its fleet's reboot lock.",
           snapshot.rebootLock.held ? 1 : 0);
    metric(text, "kirta_update_reboot_lock_held_since_seconds",
           "UNIX time since when the slot is held, 0 when none is.",
           StatusSnapshot::unixTime(snapshot.rebootLock.since));
    text += "# HELP kirta_update_reboot_lock_answers_total Answers of the fleet's reboot lock "
            "since the daemon started, by answer.\n# TYPE kirta_update_reboot_lock_answers_total "
            "counter\n";
    const QPair<const char *, qint64> answers[] = {{"granted", snapshot.rebootLock.granted},
                                                   {"released", snapshot.rebootLock.released},
                                                   {"denied", snapshot.rebootLock.denied}};
    for (const auto &answer : answers)
        text += QByteArray("kirta_update_reboot_lock_answers_total{answer=\"") + answer.first
                + "\"} " + QByteArray::number(answer.second) + '\n';
    counter(text, "kirta_update_reboot_lock_requests_total",
            "Requests to the fleet's reboot lock since the daemon started, by request.", "request",
            {{QStringLiteral("acquire"), snapshot.rebootLock.acquires},
             {QStringLiteral("release"), snapshot.rebootLock.releases}});
    QVector<QPair<QString, qint64>> errors;
    for (const QString &kind : RebootLock::errorKinds())
        errors.append({kind, snapshot.rebootLock.errors.value(kind)});
    counter(text, "kirta_update_reboot_lock_errors_total",
            "Failed requests to the fleet's reboot lock since the daemon started, by kind: "
            "full, unreachable, server, configuration.",
            "kind", errors);
    counter(text, "kirta_update_restart_attempts_total",
            "Automatic restarts asked of the login manager since the daemon started.", nullptr,
            {{QString(), snapshot.restart.attempts}});
    counter(text, "kirta_update_restart_successes_total",
            "Automatic restarts the login manager took on since the daemon started.", nullptr,
            {{QString(), snapshot.restart.successes}});
    metric(text, "kirta_update_start_time_seconds", "UNIX time when the daemon started.",
           PROCESS_START);
    const QPair<QString, QString> release = osRelease();
    metric(text, "kirta_update_os_info", "The running system's release, from os-release.", 1,
           "{version_id=\"" + labelValue(release.first) + "\",pretty_name=\""
                   + labelValue(release.second) + "\"}");
    return text;
}

void MetricsFile::write(const QString &path, const StatusSnapshot &snapshot)
{
    if (path.isEmpty())
        return;
    const QString file = Sysroot::path(path);
    QString error;
    // The directory may belong to the collector's account: the writer
    // follows no link that account puts at the file's name.
    const bool written = makeDirectory(QFileInfo(file).absolutePath(), &error)
                         && writeFileAtomically(file, render(snapshot), &error, FILE_MODE);
    if (written) {
        m_failedPath.clear();
    } else if (m_failedPath != path) {
        m_failedPath = path;
        m_logger.warning(QStringLiteral("Cannot write the metrics file %1: %2").arg(file, error));
    }
}
