#include "metricsfile.h"

#include "constants.h"
#include "statussnapshot.h"
#include "sysroot.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

namespace {
void metric(QByteArray &text, const char *name, const char *help, qint64 value,
            const QByteArray &labels = QByteArray())
{
    text += QByteArray("# HELP ") + name + ' ' + help + '\n';
    text += QByteArray("# TYPE ") + name + " gauge\n";
    text += name + labels + ' ' + QByteArray::number(value) + '\n';
}

// Label values: backslash, double quote and newline are escaped.
QByteArray labelValue(const QString &value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return text;
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
    return text;
}

void MetricsFile::write(const QString &path, const StatusSnapshot &snapshot)
{
    if (path.isEmpty())
        return;
    QSaveFile file(Sysroot::path(path));
    const bool written = file.open(QIODevice::WriteOnly) && file.write(render(snapshot)) >= 0
                         && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ReadGroup | QFileDevice::ReadOther)
                         && file.commit();
    if (written) {
        m_failedPath.clear();
    } else if (m_failedPath != path) {
        m_failedPath = path;
        m_logger.warning(QStringLiteral("Cannot write the metrics file %1: %2")
                                 .arg(file.fileName(), file.errorString()));
    }
}
