#include "statustext.h"

#include <QDateTime>
#include <QHash>

namespace {
const char *const COMMAND = "kirta-update-ctl";

QString plural(qint64 count, const char *unit)
{
    return QStringLiteral("%1 %2%3")
            .arg(count)
            .arg(QLatin1String(unit))
            .arg(count == 1 ? QString() : QStringLiteral("s"));
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString orNone(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("none") : text;
}

// The composite answers of arming and disarming: a link code in the units
// and a stamp code of 0, 10 or 20.
int linkPart(int answer)
{
    return answer % 10;
}

int stampPart(int answer)
{
    return answer - answer % 10;
}
} // namespace

QString StatusText::stateWords(const QString &stateName)
{
    static const QHash<QString, QString> words {
            {QStringLiteral("unknown"), QStringLiteral("starting, no check done yet")},
            {QStringLiteral("wait-for-connection"), QStringLiteral("waiting for the network")},
            {QStringLiteral("no-updates"), QStringLiteral("up to date")},
            {QStringLiteral("wait-for-download"),
             QStringLiteral("updates found, download scheduled")},
            {QStringLiteral("downloading"), QStringLiteral("downloading the packages")},
            {QStringLiteral("ready"), QStringLiteral("downloaded, not armed")},
            {QStringLiteral("activated"), QStringLiteral("armed for the next restart")},
            {QStringLiteral("forced"),
             QStringLiteral("armed for the next restart by the deadline or forced mode")},
            {QStringLiteral("error"), QStringLiteral("failed")},
            {QStringLiteral("stopped"), QStringLiteral("stopped after an error")},
            {QStringLiteral("stopped-for-major"),
             QStringLiteral("standing aside for a major-release upgrade")},
    };
    const QString meaning = words.value(stateName);
    return meaning.isEmpty() ? stateName : QStringLiteral("%1 (%2)").arg(stateName, meaning);
}

QString StatusText::errorWords(int error)
{
    switch (error) {
    case -1:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("the free-space check failed");
    case 2:
        return QStringLiteral("the rehearsal of the upgrade failed");
    case 4:
        return QStringLiteral("the pre-update validators refused the update");
    case 5:
        return QStringLiteral("the link /system-update could not be made");
    default:
        return QStringLiteral("error %1").arg(error);
    }
}

QString StatusText::localTime(qint64 seconds, const QString &unset)
{
    if (seconds == 0)
        return unset;
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm t"));
}

QString StatusText::relativeTime(qint64 seconds, qint64 now)
{
    const qint64 distance = qAbs(seconds - now);
    QString span;
    if (distance < 60)
        return QStringLiteral("now");
    if (distance < 3600)
        span = plural(distance / 60, "minute");
    else if (distance < 86400)
        span = plural(distance / 3600, "hour");
    else
        span = plural(distance / 86400, "day");
    return seconds > now ? QStringLiteral("in ") + span : span + QStringLiteral(" ago");
}

QString StatusText::nextStep(const StatusSnapshot &status, qint64 now)
{
    QString step = nextStepText(status, now);
    step[0] = step.at(0).toUpper();
    return step;
}

QString StatusText::nextStepText(const StatusSnapshot &status, qint64 now)
{
    const QString release = status.targetRelease.isEmpty()
                                    ? QStringLiteral("the update")
                                    : QStringLiteral("release %1").arg(status.targetRelease);
    if (status.armed) {
        if (status.forced)
            return QStringLiteral(
                           "%1 is installed at the next restart; forced mode keeps it armed.")
                    .arg(release);
        return QStringLiteral("%1 is installed at the next restart; \"%2 disarm\" postpones it.")
                .arg(release, QLatin1String(COMMAND));
    }
    const QString &state = status.stateName;
    if (state == QLatin1String("ready")) {
        if (status.forced)
            return QStringLiteral("Forced mode arms %1 without asking.").arg(release);
        if (status.deadlinePassed(now))
            return QStringLiteral(
                           "The deadline has passed: %1 is armed at the next deadline check.")
                    .arg(release);
        if (status.deadline != 0)
            return QStringLiteral("%1 is armed at the deadline, or now with \"%2 arm\".")
                    .arg(release, QLatin1String(COMMAND));
        return QStringLiteral("\"%1 arm\" arms %2 for the next restart.")
                .arg(QLatin1String(COMMAND), release);
    }
    if (state == QLatin1String("downloading") || state == QLatin1String("wait-for-download"))
        return QStringLiteral("Once the packages are downloaded the update can be armed.");
    if (state == QLatin1String("no-updates"))
        return QStringLiteral("The next check looks for updates.");
    if (state == QLatin1String("wait-for-connection"))
        return QStringLiteral("The work goes on when the configured host answers.");
    if (state == QLatin1String("stopped"))
        return QStringLiteral("Updates are stopped because %1; the configured error action "
                              "decides when they resume.")
                .arg(errorWords(status.error));
    if (state == QLatin1String("stopped-for-major"))
        return QStringLiteral("Minor updates wait until the major-release upgrade is done.");
    if (state == QLatin1String("unknown"))
        return QStringLiteral("The first check runs shortly after the daemon's start.");
    return QStringLiteral("See the log, /var/log/kirta-update-service/service.log.");
}

QString StatusText::propertyLabel(const QString &property)
{
    static const QHash<QString, QString> labels {
            {QStringLiteral("State"), QStringLiteral("State number")},
            {QStringLiteral("StateName"), QStringLiteral("State")},
            {QStringLiteral("Error"), QStringLiteral("Error")},
            {QStringLiteral("TargetRelease"), QStringLiteral("Release")},
            {QStringLiteral("Deadline"), QStringLiteral("Deadline")},
            {QStringLiteral("Forced"), QStringLiteral("Forced")},
            {QStringLiteral("Armed"), QStringLiteral("Armed")},
            {QStringLiteral("Packages"), QStringLiteral("Packages")},
            {QStringLiteral("LastCheck"), QStringLiteral("Last check")},
            {QStringLiteral("LastResult"), QStringLiteral("Last result")},
            {QStringLiteral("RestartPlanned"), QStringLiteral("Restart")},
            {QStringLiteral("RestartBlocker"), QStringLiteral("Restart waits")},
    };
    return labels.value(property, property);
}

QString StatusText::propertyValue(const QString &property, const StatusSnapshot &status)
{
    if (property == QLatin1String("State"))
        return QString::number(status.state);
    if (property == QLatin1String("StateName"))
        return stateWords(status.stateName);
    if (property == QLatin1String("Error"))
        return errorWords(status.error);
    if (property == QLatin1String("TargetRelease"))
        return orNone(status.targetRelease);
    if (property == QLatin1String("Deadline"))
        return localTime(status.deadline, QStringLiteral("not set"));
    if (property == QLatin1String("Forced"))
        return yesNo(status.forced);
    if (property == QLatin1String("Armed"))
        return yesNo(status.armed);
    if (property == QLatin1String("Packages"))
        return QStringLiteral("%1 (%2)")
                .arg(status.packages.size())
                .arg(orNone(status.packages.join(QLatin1Char(' '))));
    if (property == QLatin1String("LastCheck"))
        return localTime(status.lastCheck, QStringLiteral("none since the daemon started"));
    if (property == QLatin1String("LastResult"))
        return status.lastResult;
    if (property == QLatin1String("RestartPlanned"))
        return localTime(status.restartPlanned, QStringLiteral("none planned"));
    if (property == QLatin1String("RestartBlocker"))
        return orNone(status.restartBlocker);
    return QString();
}

QString StatusText::restartWords(const StatusSnapshot &status, qint64 now)
{
    if (status.restartPlanned == 0 && status.restartBlocker.isEmpty())
        return QStringLiteral("none planned");
    if (status.restartPlanned == 0)
        return status.restartBlocker;
    const QString when = QStringLiteral("%1 (%2)").arg(localTime(status.restartPlanned, QString()),
                                                       relativeTime(status.restartPlanned, now));
    return status.restartBlocker.isEmpty()
                   ? when
                   : QStringLiteral("%1; %2").arg(when, status.restartBlocker);
}

QStringList StatusText::statusLines(const StatusSnapshot &status, qint64 now)
{
    auto line = [](const char *label, const QString &value) {
        return QStringLiteral("%1 %2").arg(QLatin1String(label), -12).arg(value);
    };
    auto withDistance = [now](qint64 seconds, const QString &unset) {
        const QString when = localTime(seconds, unset);
        return seconds == 0 ? when
                            : QStringLiteral("%1 (%2)").arg(when, relativeTime(seconds, now));
    };
    return {
            line("State:", stateWords(status.stateName)),
            line("Error:", errorWords(status.error)),
            line("Release:", orNone(status.targetRelease)),
            line("Deadline:", withDistance(status.deadline, QStringLiteral("not set"))),
            line("Armed:", yesNo(status.armed)),
            line("Forced:", yesNo(status.forced)),
            line("Packages:", QString::number(status.packages.size())),
            line("Last check:",
                 withDistance(status.lastCheck, QStringLiteral("none since the daemon started"))),
            line("Last result:", status.lastResult),
            line("Restart:", restartWords(status, now)),
            line("Next:", nextStep(status, now)),
    };
}

bool StatusText::armDone(int answer)
{
    return answer >= 0 && answer < 30 && linkPart(answer) <= 2 && stampPart(answer) <= 10;
}

QString StatusText::armWords(int answer)
{
    if (answer == -10)
        return QStringLiteral("the packages are not downloaded yet; the daemon arms the update "
                              "as soon as the download completes");
    if (answer == -5)
        return QStringLiteral("the free-space check and the rehearsal of the upgrade started");
    if (answer < 0 || answer >= 30 || linkPart(answer) > 5)
        return QStringLiteral("unexpected answer");
    static const char *const links[] = {
            "link /system-update created",
            "link /system-update was already there",
            "a file at /system-update was replaced by the link",
            "a file at /system-update was removed but the link could not be created",
            "a file at /system-update could not be removed",
            "the link /system-update could not be created",
    };
    static const char *const stamps[] = {
            "stamp created",
            "stamp was already there",
            "the stamp could not be created",
    };
    return QStringLiteral("%1, %2").arg(QLatin1String(links[linkPart(answer)]),
                                        QLatin1String(stamps[stampPart(answer) / 10]));
}

bool StatusText::disarmDone(int answer)
{
    return answer >= 0 && answer < 30 && linkPart(answer) <= 1 && stampPart(answer) <= 10;
}

QString StatusText::disarmWords(int answer)
{
    if (answer == 89)
        return QStringLiteral("forced mode is on; the armed upgrade cannot be disarmed");
    if (answer < 0 || answer >= 30 || linkPart(answer) > 2)
        return QStringLiteral("unexpected answer");
    if (answer == 11)
        return QStringLiteral("nothing was armed");
    static const char *const links[] = {
            "link /system-update removed",
            "no link /system-update",
            "the link /system-update could not be removed, so the upgrade stays armed",
    };
    static const char *const stamps[] = {
            "stamp removed",
            "no stamp",
            "the stamp could not be removed",
    };
    return QStringLiteral("%1, %2").arg(QLatin1String(links[linkPart(answer)]),
                                        QLatin1String(stamps[stampPart(answer) / 10]));
}
