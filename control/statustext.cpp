// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "statustext.h"

#include "buscontract.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QPair>
#include <QVector>

namespace {
const char *const COMMAND = "kirta-update-ctl";

QString yesNo(bool value)
{
    return value ? StatusText::tr("yes") : StatusText::tr("no");
}

QString orNone(const QString &value)
{
    return value.isEmpty() ? StatusText::tr("none") : value;
}

// The result word stays as the daemon says it for the scripts; people read
// it in their language.
QString resultWords(const QString &result)
{
    if (result == QLatin1String("none"))
        return StatusText::tr("none");
    if (result == QLatin1String("successful"))
        return StatusText::tr("successful");
    if (result == QLatin1String("unsuccessful"))
        return StatusText::tr("unsuccessful");
    return result;
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
    // Marked here, translated at each use: the catalogue is loaded after
    // static data may have been built.
    static const QHash<QString, const char *> words {
            {QLatin1String(BusContract::StateWord::UNKNOWN),
             QT_TRANSLATE_NOOP("StatusText", "starting, no check done yet")},
            {QLatin1String(BusContract::StateWord::WAIT_FOR_CONNECTION),
             QT_TRANSLATE_NOOP("StatusText", "waiting for the network")},
            {QLatin1String(BusContract::StateWord::NO_UPDATES),
             QT_TRANSLATE_NOOP("StatusText", "up to date")},
            {QLatin1String(BusContract::StateWord::WAIT_FOR_DOWNLOAD),
             QT_TRANSLATE_NOOP("StatusText", "updates found, download scheduled")},
            {QLatin1String(BusContract::StateWord::DOWNLOADING),
             QT_TRANSLATE_NOOP("StatusText", "downloading the packages")},
            {QLatin1String(BusContract::StateWord::READY),
             QT_TRANSLATE_NOOP("StatusText", "downloaded, not armed")},
            {QLatin1String(BusContract::StateWord::ACTIVATED),
             QT_TRANSLATE_NOOP("StatusText", "armed for the next restart")},
            {QLatin1String(BusContract::StateWord::FORCED),
             QT_TRANSLATE_NOOP("StatusText",
                               "armed for the next restart by the deadline or forced mode")},
            {QLatin1String(BusContract::StateWord::ERROR),
             QT_TRANSLATE_NOOP("StatusText", "failed")},
            {QLatin1String(BusContract::StateWord::STOPPED),
             QT_TRANSLATE_NOOP("StatusText", "stopped after an error")},
            {QLatin1String(BusContract::StateWord::STOPPED_FOR_MAJOR),
             QT_TRANSLATE_NOOP("StatusText", "standing aside for a major-release upgrade")},
    };
    const char *meaning = words.value(stateName, nullptr);
    // The state word stays as the bus says it: it is what logs and scripts
    // show, in every language.
    return meaning ? QStringLiteral("%1 (%2)").arg(stateName, tr(meaning)) : stateName;
}

QString StatusText::errorWords(int error)
{
    switch (ErrorNumber(error)) {
    case ErrorNumber::None:
        return tr("none");
    case ErrorNumber::FreeSpace:
        return tr("the free-space check failed");
    case ErrorNumber::Imitation:
        return tr("the rehearsal of the upgrade failed");
    case ErrorNumber::Validators:
        return tr("the pre-update validators refused the update");
    case ErrorNumber::ArmingFailed:
        return tr("the link /system-update could not be made");
    }
    return tr("error %1").arg(error);
}

QString StatusText::localTime(qint64 seconds, const QString &unset)
{
    if (seconds == 0)
        return unset;
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
    const QLocale locale;
    // English keeps the unambiguous ISO form that scripts and the manual
    // show; other languages write dates as their desktop does.
    if (locale.language() == QLocale::C || locale.language() == QLocale::English)
        return when.toString(QStringLiteral("yyyy-MM-dd hh:mm t"));
    return locale.toString(when, locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ')
                                         + locale.timeFormat(QLocale::ShortFormat)
                                         + QStringLiteral(" t"));
}

QString StatusText::relativeTime(qint64 seconds, qint64 now)
{
    const qint64 distance = qAbs(seconds - now);
    if (distance < 60)
        return tr("now");
    const bool ahead = seconds > now;
    const char *minutes = ahead ? QT_TRANSLATE_N_NOOP("StatusText", "in %n minute(s)")
                                : QT_TRANSLATE_N_NOOP("StatusText", "%n minute(s) ago");
    const char *hours = ahead ? QT_TRANSLATE_N_NOOP("StatusText", "in %n hour(s)")
                              : QT_TRANSLATE_N_NOOP("StatusText", "%n hour(s) ago");
    const char *days = ahead ? QT_TRANSLATE_N_NOOP("StatusText", "in %n day(s)")
                             : QT_TRANSLATE_N_NOOP("StatusText", "%n day(s) ago");
    if (distance < 3600)
        return tr(minutes, nullptr, int(distance / 60));
    if (distance < 86400)
        return tr(hours, nullptr, int(distance / 3600));
    return tr(days, nullptr, int(distance / 86400));
}

QString StatusText::nextStep(const PublishedStatus &status, qint64 now)
{
    QString step = nextStepText(status, now);
    step[0] = step.at(0).toUpper();
    return step;
}

QString StatusText::nextStepText(const PublishedStatus &status, qint64 now)
{
    const QString command = QLatin1String(COMMAND);
    const QString release = status.targetRelease.isEmpty()
                                    ? tr("the update")
                                    : tr("release %1").arg(status.targetRelease);
    if (status.armed) {
        if (status.forced)
            return tr("%1 is installed at the next restart; forced mode keeps it armed.")
                    .arg(release);
        return tr("%1 is installed at the next restart; \"%2 disarm\" postpones it.")
                .arg(release, command);
    }
    const QString &state = status.stateName;
    if (state == QLatin1String(BusContract::StateWord::READY)) {
        if (status.forced)
            return tr("Forced mode arms %1 without asking.").arg(release);
        if (status.deadlinePassed(now))
            return tr("The deadline has passed: %1 is armed at the next deadline check.")
                    .arg(release);
        if (status.deadline != 0)
            return tr("%1 is armed at the deadline, or now with \"%2 arm\".").arg(release, command);
        return tr("\"%1 arm\" arms %2 for the next restart.").arg(command, release);
    }
    if (state == QLatin1String(BusContract::StateWord::DOWNLOADING)
        || state == QLatin1String(BusContract::StateWord::WAIT_FOR_DOWNLOAD))
        return tr("Once the packages are downloaded the update can be armed.");
    if (state == QLatin1String(BusContract::StateWord::NO_UPDATES))
        return tr("The next check looks for updates.");
    if (state == QLatin1String(BusContract::StateWord::WAIT_FOR_CONNECTION))
        return tr("The work goes on when the configured host answers.");
    if (state == QLatin1String(BusContract::StateWord::STOPPED))
        return tr("Updates are stopped because %1; the configured error action decides when "
                  "they resume.")
                .arg(errorWords(status.error));
    if (state == QLatin1String(BusContract::StateWord::STOPPED_FOR_MAJOR))
        return tr("Minor updates wait until the major-release upgrade is done.");
    if (state == QLatin1String(BusContract::StateWord::UNKNOWN))
        return tr("The first check runs shortly after the daemon's start.");
    return tr("See the log, /var/log/kirta-update-service/service.log.");
}

QString StatusText::propertyLabel(const QString &property)
{
    static const QHash<QString, const char *> labels {
            {QStringLiteral("State"), QT_TRANSLATE_NOOP("StatusText", "State number")},
            {QStringLiteral("StateName"), QT_TRANSLATE_NOOP("StatusText", "State")},
            {QStringLiteral("Error"), QT_TRANSLATE_NOOP("StatusText", "Error")},
            {QStringLiteral("TargetRelease"), QT_TRANSLATE_NOOP("StatusText", "Release")},
            {QStringLiteral("Deadline"), QT_TRANSLATE_NOOP("StatusText", "Deadline")},
            {QStringLiteral("Forced"), QT_TRANSLATE_NOOP("StatusText", "Forced")},
            {QStringLiteral("Armed"), QT_TRANSLATE_NOOP("StatusText", "Armed")},
            {QStringLiteral("Packages"), QT_TRANSLATE_NOOP("StatusText", "Packages")},
            {QStringLiteral("LastCheck"), QT_TRANSLATE_NOOP("StatusText", "Last check")},
            {QStringLiteral("LastResult"), QT_TRANSLATE_NOOP("StatusText", "Last result")},
            {QStringLiteral("Next"), QT_TRANSLATE_NOOP("StatusText", "Next")},
            {QStringLiteral("Health"), QT_TRANSLATE_NOOP("StatusText", "Health")},
            {QStringLiteral("HealthReasons"), QT_TRANSLATE_NOOP("StatusText", "Health reasons")},
            {QStringLiteral("HealthChecked"), QT_TRANSLATE_NOOP("StatusText", "Health checked")},
            {QStringLiteral("DownloadHeld"), QT_TRANSLATE_NOOP("StatusText", "Downloads held")},
            {QStringLiteral("PostponedForPower"),
             QT_TRANSLATE_NOOP("StatusText", "Postponed for power")},
            {QStringLiteral("Held"), QT_TRANSLATE_NOOP("StatusText", "Held")},
            {QStringLiteral("Postponed"), QT_TRANSLATE_NOOP("StatusText", "Postponed")},
            {QStringLiteral("RestartPlanned"), QT_TRANSLATE_NOOP("StatusText", "Restart")},
            {QStringLiteral("RestartBlocker"), QT_TRANSLATE_NOOP("StatusText", "Restart waits")},
            {QStringLiteral("Restart"), QT_TRANSLATE_NOOP("StatusText", "Restart")},
            {QStringLiteral("RebootLockHeld"), QT_TRANSLATE_NOOP("StatusText", "Fleet lock held")},
            {QStringLiteral("RebootLockSince"),
             QT_TRANSLATE_NOOP("StatusText", "Fleet lock since")},
            {QStringLiteral("RebootLockText"), QT_TRANSLATE_NOOP("StatusText", "Fleet lock says")},
            {QStringLiteral("RebootLock"), QT_TRANSLATE_NOOP("StatusText", "Fleet lock")},
    };
    const char *label = labels.value(property, nullptr);
    return label ? tr(label) : property;
}

QString StatusText::propertyValue(const QString &property, const PublishedStatus &status)
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
        return localTime(status.deadline, tr("not set"));
    if (property == QLatin1String("Forced"))
        return yesNo(status.forced);
    if (property == QLatin1String("Armed"))
        return yesNo(status.armed);
    if (property == QLatin1String("Packages"))
        return QStringLiteral("%1 (%2)")
                .arg(status.packages.size())
                .arg(orNone(status.packages.join(QLatin1Char(' '))));
    if (property == QLatin1String("LastCheck"))
        return localTime(status.lastCheck, tr("none since the daemon started"));
    if (property == QLatin1String("LastResult"))
        return resultWords(status.lastResult);
    if (property == QLatin1String("Health"))
        return healthWords(status);
    if (property == QLatin1String("HealthReasons"))
        return orNone(status.healthReasons.join(QStringLiteral("; ")));
    if (property == QLatin1String("HealthChecked"))
        return localTime(status.healthChecked, tr("never"));
    if (property == QLatin1String("DownloadHeld"))
        return orNone(status.downloadHeld);
    if (property == QLatin1String("PostponedForPower"))
        return orNone(status.postponedForPower);
    if (property == QLatin1String("RestartPlanned"))
        return localTime(status.restartPlanned, tr("none planned"));
    if (property == QLatin1String("RestartBlocker"))
        return orNone(status.restartBlocker);
    if (property == QLatin1String("RebootLockHeld"))
        return yesNo(status.rebootLockHeld);
    if (property == QLatin1String("RebootLockSince"))
        return localTime(status.rebootLockSince, tr("no slot held"));
    if (property == QLatin1String("RebootLockText"))
        return orNone(status.rebootLockText);
    return QString();
}

QString StatusText::restartWords(const PublishedStatus &status, qint64 now)
{
    if (status.restartPlanned == 0 && status.restartBlocker.isEmpty())
        return tr("none planned");
    if (status.restartPlanned == 0)
        return status.restartBlocker;
    const QString when = QStringLiteral("%1 (%2)").arg(localTime(status.restartPlanned, QString()),
                                                       relativeTime(status.restartPlanned, now));
    return status.restartBlocker.isEmpty()
                   ? when
                   : QStringLiteral("%1; %2").arg(when, status.restartBlocker);
}

QStringList StatusText::statusLines(const PublishedStatus &status, qint64 now)
{
    auto withDistance = [now](qint64 seconds, const QString &unset) {
        const QString when = localTime(seconds, unset);
        return seconds == 0 ? when
                            : QStringLiteral("%1 (%2)").arg(when, relativeTime(seconds, now));
    };
    QVector<QPair<QString, QString>> items {
            {QStringLiteral("StateName"), stateWords(status.stateName)},
            {QStringLiteral("Error"), errorWords(status.error)},
            {QStringLiteral("TargetRelease"), orNone(status.targetRelease)},
            {QStringLiteral("Deadline"), withDistance(status.deadline, tr("not set"))},
            {QStringLiteral("Armed"), yesNo(status.armed)},
            {QStringLiteral("Forced"), yesNo(status.forced)},
            {QStringLiteral("Packages"), QString::number(status.packages.size())},
            {QStringLiteral("LastCheck"),
             withDistance(status.lastCheck, tr("none since the daemon started"))},
            {QStringLiteral("LastResult"), resultWords(status.lastResult)},
            {QStringLiteral("Health"), healthWords(status)},
    };
    // Only while something holds the update back.
    if (!status.downloadHeld.isEmpty())
        items.append(
                {QStringLiteral("Held"), tr("no download starts: %1").arg(status.downloadHeld)});
    if (!status.postponedForPower.isEmpty())
        items.append({QStringLiteral("Postponed"),
                      tr("the last restart did not install for lack of power (%1); "
                         "connect the power before the next restart")
                              .arg(status.postponedForPower)});
    items.append({QStringLiteral("Restart"), restartWords(status, now)});
    // Only on machines that hold a slot: the rest of their group waits for it.
    if (status.rebootLockHeld || !status.rebootLockText.isEmpty())
        items.append({QStringLiteral("RebootLock"), rebootLockWords(status, now)});
    items.append({QStringLiteral("Next"), nextStep(status, now)});
    // The values line up after the longest label of the language, at least
    // where the English ones do.
    int width = 12;
    for (const auto &item : items)
        width = qMax(width, propertyLabel(item.first).size() + 2);
    QStringList lines;
    for (const auto &item : items)
        lines << QStringLiteral("%1 %2")
                         .arg(propertyLabel(item.first) + QLatin1Char(':'), -(width - 1))
                         .arg(item.second);
    return lines;
}

QString StatusText::rebootLockWords(const PublishedStatus &status, qint64 now)
{
    QString held;
    if (!status.rebootLockHeld)
        held = tr("no slot held");
    else if (status.rebootLockSince == 0)
        held = tr("slot held");
    else
        held = tr("slot held since %1 (%2)")
                       .arg(localTime(status.rebootLockSince, QString()),
                            relativeTime(status.rebootLockSince, now));
    return status.rebootLockText.isEmpty()
                   ? held
                   : QStringLiteral("%1; %2").arg(held, status.rebootLockText);
}

QString StatusText::healthWords(const PublishedStatus &status)
{
    if (status.health == QLatin1String("none"))
        return tr("not checked (no upgrade boot since the daemon started)");
    if (status.health == QLatin1String("checking"))
        return tr("checking after the upgrade boot");
    if (status.health == QLatin1String("unhealthy") && !status.healthReasons.isEmpty())
        return tr("unhealthy: %1").arg(status.healthReasons.join(QStringLiteral("; ")));
    if (status.health == QLatin1String("healthy"))
        return tr("healthy");
    return status.health;
}

bool StatusText::armDone(int answer)
{
    return answer >= 0 && answer < 30 && linkPart(answer) <= 2 && stampPart(answer) <= 10;
}

QString StatusText::armWords(int answer)
{
    if (answer == -10)
        return tr("the packages are not downloaded yet; the daemon arms the update as soon as "
                  "the download completes");
    if (answer == -5)
        return tr("the free-space check and the rehearsal of the upgrade started");
    if (answer < 0 || answer >= 30 || linkPart(answer) > 5)
        return tr("unexpected answer");
    static const char *const links[] = {
            QT_TRANSLATE_NOOP("StatusText", "link /system-update created"),
            QT_TRANSLATE_NOOP("StatusText", "link /system-update was already there"),
            QT_TRANSLATE_NOOP("StatusText", "a file at /system-update was replaced by the link"),
            QT_TRANSLATE_NOOP("StatusText", "a file at /system-update was removed but the link "
                                            "could not be created"),
            QT_TRANSLATE_NOOP("StatusText", "a file at /system-update could not be removed"),
            QT_TRANSLATE_NOOP("StatusText", "the link /system-update could not be created"),
    };
    static const char *const stamps[] = {
            QT_TRANSLATE_NOOP("StatusText", "stamp created"),
            QT_TRANSLATE_NOOP("StatusText", "stamp was already there"),
            QT_TRANSLATE_NOOP("StatusText", "the stamp could not be created"),
    };
    return QStringLiteral("%1, %2").arg(tr(links[linkPart(answer)]),
                                        tr(stamps[stampPart(answer) / 10]));
}

bool StatusText::disarmDone(int answer)
{
    return answer >= 0 && answer < 30 && linkPart(answer) <= 1 && stampPart(answer) <= 10;
}

QString StatusText::disarmWords(int answer)
{
    if (answer == 89)
        return tr("forced mode is on; the armed upgrade cannot be disarmed");
    if (answer < 0 || answer >= 30 || linkPart(answer) > 2)
        return tr("unexpected answer");
    if (answer == 11)
        return tr("nothing was armed");
    static const char *const links[] = {
            QT_TRANSLATE_NOOP("StatusText", "link /system-update removed"),
            QT_TRANSLATE_NOOP("StatusText", "no link /system-update"),
            QT_TRANSLATE_NOOP("StatusText", "the link /system-update could not be removed, so "
                                            "the upgrade stays armed"),
    };
    static const char *const stamps[] = {
            QT_TRANSLATE_NOOP("StatusText", "stamp removed"),
            QT_TRANSLATE_NOOP("StatusText", "no stamp"),
            QT_TRANSLATE_NOOP("StatusText", "the stamp could not be removed"),
    };
    return QStringLiteral("%1, %2").arg(tr(links[linkPart(answer)]),
                                        tr(stamps[stampPart(answer) / 10]));
}
