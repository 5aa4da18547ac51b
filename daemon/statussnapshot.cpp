#include "statussnapshot.h"

#include "constants.h"
#include "currenttask.h"

#include <QCoreApplication>

namespace {
struct TaskRendering
{
    const char *word;
    int number;
};

// Indexed by CurrentTask; DownloadCompleted is rendered from the arming flags.
constexpr TaskRendering TASK_RENDERINGS[] = {
        {"unknown", -1},
        {"wait-for-connection", 0},
        {"no-updates", 1},
        {"wait-for-download", 2},
        {"downloading", 3},
        {"ready", 4},
        {"error", -1},
        {"stopped", -2},
        {"stopped-for-major", -3},
};
constexpr TaskRendering OUT_OF_RANGE = {"error", -1};

TaskRendering renderingOf(int task)
{
    if (task < 0 || task >= int(sizeof(TASK_RENDERINGS) / sizeof(TASK_RENDERINGS[0])))
        return OUT_OF_RANGE;
    return TASK_RENDERINGS[task];
}
} // namespace

bool StatusSnapshot::operator==(const StatusSnapshot &other) const
{
    return task == other.task && armed == other.armed && forcedMode == other.forcedMode
           && error == other.error && version == other.version && deadline == other.deadline
           && upgradable == other.upgradable && lastCheck == other.lastCheck
           && lastResult == other.lastResult && metricsFile == other.metricsFile;
}

QString StatusSnapshot::taskWord(int task)
{
    return QString::fromLatin1(renderingOf(task).word);
}

int StatusSnapshot::taskNumber(int task)
{
    return renderingOf(task).number;
}

int StatusSnapshot::stateNumber(const QDateTime &now) const
{
    if (task != toInt(CurrentTask::DownloadCompleted))
        return taskNumber(task);
    if (!armed)
        return 4;
    const bool deadlinePassed = deadline.isValid() && now >= deadline;
    return deadlinePassed || forcedMode ? 6 : 5;
}

QString StatusSnapshot::stateWord(const QDateTime &now) const
{
    if (task != toInt(CurrentTask::DownloadCompleted))
        return taskWord(task);
    switch (stateNumber(now)) {
    case 4:
        return QStringLiteral("ready");
    case 6:
        return QStringLiteral("forced");
    default:
        return QStringLiteral("activated");
    }
}

QString StatusSnapshot::updateDateText() const
{
    if (deadline.isValid())
        return deadline.toString(DATE_TIME_FORMAT);
    return QCoreApplication::translate("Daemon", "Upgrade date not set or not valid");
}

QString StatusSnapshot::versionText() const
{
    if (!version.isEmpty())
        return version;
    return QCoreApplication::translate("Daemon", "Version unknown");
}

QStringList StatusSnapshot::packageNames() const
{
    // "name/suite version arch [upgradable from: old]"; the heading
    // "Listing..." and blank lines carry no slash.
    QStringList names;
    for (const QString &line : upgradable) {
        const int slash = line.indexOf(QLatin1Char('/'));
        if (slash > 0 && !line.left(slash).contains(QLatin1Char(' ')))
            names << line.left(slash);
    }
    return names;
}

qint64 StatusSnapshot::unixTime(const QDateTime &time)
{
    return time.isValid() ? time.toSecsSinceEpoch() : 0;
}

QVariantMap StatusSnapshot::properties(const QDateTime &now) const
{
    return {
            {QStringLiteral("State"), stateNumber(now)},
            {QStringLiteral("StateName"), stateWord(now)},
            {QStringLiteral("Error"), error},
            {QStringLiteral("TargetRelease"), version},
            {QStringLiteral("Deadline"), unixTime(deadline)},
            {QStringLiteral("Forced"), forcedMode},
            {QStringLiteral("Armed"), armed},
            {QStringLiteral("Packages"), packageNames()},
            {QStringLiteral("LastCheck"), unixTime(lastCheck)},
            {QStringLiteral("LastResult"), lastResult},
    };
}
