// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "noticepolicy.h"

#include "buscontract.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {
QString release(const PublishedStatus &status)
{
    return status.targetRelease.isEmpty()
                   ? QCoreApplication::translate("NoticePolicy", "The update")
                   : QCoreApplication::translate("NoticePolicy", "Release %1")
                             .arg(status.targetRelease);
}
} // namespace

QList<NoticePolicy::Notice> NoticePolicy::update(const PublishedStatus &status, qint64 now)
{
    QList<Notice> notices;

    if (status.armed && (!m_armedTold || status.targetRelease != m_armedRelease)) {
        m_armedTold = true;
        m_armedRelease = status.targetRelease;
        Notice notice {Notice::Armed,
                       QCoreApplication::translate("NoticePolicy",
                                                   "Updates will be installed at the next restart"),
                       QString()};
        if (status.deadlinePassed(now)) {
            notice.body = QCoreApplication::translate(
                                  "NoticePolicy",
                                  "%1 was armed because its deadline has passed. Save your work "
                                  "and restart soon.")
                                  .arg(release(status));
            notice.urgent = true;
        } else if (status.forced) {
            notice.body = QCoreApplication::translate("NoticePolicy",
                                                      "%1 was armed by forced mode. Save your "
                                                      "work and restart soon.")
                                  .arg(release(status));
            notice.urgent = true;
        } else {
            notice.body = QCoreApplication::translate("NoticePolicy",
                                                      "%1 is downloaded and is installed when the "
                                                      "computer restarts.")
                                  .arg(release(status));
        }
        notices << notice;
    } else if (!status.armed && m_armedTold
               && status.stateName == QLatin1String(BusContract::StateWord::READY)) {
        // Disarmed by someone: the daemon still has the update but it is no
        // longer armed. A restarting daemon does not pass through here.
        m_armedTold = false;
        notices << Notice {Notice::Disarmed, QString(), QString()};
    }

    if (status.lastResult != m_resultTold) {
        m_resultTold = status.lastResult;
        if (status.lastResult == QLatin1String("successful")) {
            notices << Notice {
                    Notice::Result,
                    QCoreApplication::translate("NoticePolicy", "Updates installed"),
                    QCoreApplication::translate("NoticePolicy",
                                                "The updates were installed at the last restart."),
                    1};
        } else if (status.lastResult == QLatin1String("unsuccessful")) {
            notices << Notice {Notice::Result,
                               QCoreApplication::translate("NoticePolicy",
                                                           "The update could not be installed"),
                               QCoreApplication::translate(
                                       "NoticePolicy",
                                       "Installing the updates at the last restart failed. The "
                                       "administrator can find why in the system journal."),
                               0, true};
        } else {
            notices << Notice {Notice::ResultCleared, QString(), QString()};
        }
    }
    if (status.postponedForPower != m_powerTold) {
        m_powerTold = status.postponedForPower;
        if (status.postponedForPower.isEmpty())
            notices << Notice {Notice::PowerCleared, QString(), QString()};
        else
            notices << Notice {Notice::Power,
                               QCoreApplication::translate("NoticePolicy",
                                                           "Connect the power to install updates"),
                               QCoreApplication::translate(
                                       "NoticePolicy",
                                       "%1 was not installed at the last restart because the "
                                       "battery was low. Connect the power before you restart "
                                       "the computer.")
                                       .arg(release(status)),
                               -1, true};
    }

    // Told once per result; "checking" and "none" are no news.
    if (status.health != m_healthTold
        && (status.health == QLatin1String("healthy")
            || status.health == QLatin1String("unhealthy"))) {
        m_healthTold = status.health;
        if (status.health == QLatin1String("unhealthy"))
            notices << Notice {
                    Notice::Health,
                    QCoreApplication::translate("NoticePolicy", "The system has problems after the "
                                                                "update"),
                    QCoreApplication::translate(
                            "NoticePolicy", "After the updates installed at the last restart: %1. "
                                            "Tell the administrator.")
                            .arg(status.healthReasons.join(QStringLiteral("; "))),
                    -1, true};
    }

    // The daemon's words for a restart that people have been told about
    // through the login manager.
    const bool announced
            = status.restartPlanned > now
              && (status.restartBlocker.startsWith(QLatin1String("users logged in, announced"))
                  || status.restartBlocker.startsWith(QLatin1String("restarting at")));
    if (announced) {
        m_restartTold = true;
        const qint64 minutes = (status.restartPlanned - now + 59) / 60;
        Notice notice {Notice::Restart,
                       QCoreApplication::translate("NoticePolicy",
                                                   "The computer restarts at %1 to install updates")
                               .arg(QDateTime::fromSecsSinceEpoch(status.restartPlanned)
                                            .toString(QStringLiteral("hh:mm"))),
                       QCoreApplication::translate("NoticePolicy",
                                                   "Save your work. %n minute(s) left.", nullptr,
                                                   int(minutes)),
                       -1, true};
        notice.postponable = !status.forced && !status.deadlinePassed(now);
        notices << notice;
    } else if (m_restartTold) {
        m_restartTold = false;
        notices << Notice {Notice::RestartCalledOff, QString(), QString()};
    }
    return notices;
}
