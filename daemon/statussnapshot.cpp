// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "statussnapshot.h"

#include "codes.h"
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
        {BusContract::StateWord::UNKNOWN, toInt(StateNumber::Undefined)},
        {BusContract::StateWord::WAIT_FOR_CONNECTION, toInt(StateNumber::WaitingForConnection)},
        {BusContract::StateWord::NO_UPDATES, toInt(StateNumber::NoUpdates)},
        {BusContract::StateWord::WAIT_FOR_DOWNLOAD, toInt(StateNumber::WaitingForDownload)},
        {BusContract::StateWord::DOWNLOADING, toInt(StateNumber::Downloading)},
        {BusContract::StateWord::READY, toInt(StateNumber::Ready)},
        {BusContract::StateWord::ERROR, toInt(StateNumber::Undefined)},
        {BusContract::StateWord::STOPPED, toInt(StateNumber::Stopped)},
        {BusContract::StateWord::STOPPED_FOR_MAJOR, toInt(StateNumber::StoppedForMajor)},
};
constexpr TaskRendering OUT_OF_RANGE
        = {BusContract::StateWord::ERROR, toInt(StateNumber::Undefined)};

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
           && lastResult == other.lastResult && stateChanged == other.stateChanged
           && lastSuccess == other.lastSuccess && logLevel == other.logLevel
           && health == other.health && power == other.power && restart == other.restart
           && rebootLock == other.rebootLock;
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
        return toInt(StateNumber::Ready);
    const bool deadlinePassed = deadline.isValid() && now >= deadline;
    return deadlinePassed || forcedMode ? toInt(StateNumber::Forced)
                                        : toInt(StateNumber::Activated);
}

QString StatusSnapshot::stateWord(const QDateTime &now) const
{
    if (task != toInt(CurrentTask::DownloadCompleted))
        return taskWord(task);
    switch (StateNumber(stateNumber(now))) {
    case StateNumber::Ready:
        return QLatin1String(BusContract::StateWord::READY);
    case StateNumber::Forced:
        return QLatin1String(BusContract::StateWord::FORCED);
    default:
        return QLatin1String(BusContract::StateWord::ACTIVATED);
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
            {QStringLiteral("Health"), health.result},
            {QStringLiteral("HealthReasons"), health.reasons},
            {QStringLiteral("HealthChecked"), unixTime(health.checked)},
            {QStringLiteral("DownloadHeld"), power.downloadHeld},
            {QStringLiteral("PostponedForPower"), power.postponedForPower},
            {QStringLiteral("RestartPlanned"), unixTime(restart.planned)},
            {QStringLiteral("RestartBlocker"), restart.blocker},
            {QStringLiteral("RebootLockHeld"), rebootLock.held},
            {QStringLiteral("RebootLockSince"), unixTime(rebootLock.since)},
            {QStringLiteral("RebootLockText"), rebootLock.text},
    };
}
