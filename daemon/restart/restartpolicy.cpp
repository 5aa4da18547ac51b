// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "restartpolicy.h"

#include "constants.h"
#include "currenttask.h"
#include "rebootlock.h"
#include "statussnapshot.h"

#include <QLocale>
#include <QTimer>

#include <limits>

namespace {
// A long wait is taken in steps, so that a clock set forward is noticed.
const qint64 MAX_WAIT_MS = 6LL * 3600 * 1000;
} // namespace

RestartPolicy::RestartPolicy(const QDBusConnection &bus, RebootLock *lock, QObject *parent)
    : QObject(parent)
    , m_logind(bus)
    , m_mark(RESTARTED_FOR_MARK_PATH)
    , m_lock(lock)
    , m_logger(LOG_FILE_PATH, Logger::Info)
    , m_timer(new QTimer(this))
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
    , m_zone(QTimeZone::systemTimeZone())
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &RestartPolicy::evaluate);
    m_recheckMs = RestartConfig::recheckMs(RECHECK_MS);
    m_lock = nullptr;
    setLock(lock);
}

void RestartPolicy::setLock(RebootLock *lock)
{
    if (lock == m_lock)
        return;
    if (m_lock) {
        disconnect(m_lock, nullptr, this, nullptr);
        if (m_lockGranted)
            m_lock->release();
    }
    m_lockGranted = false;
    m_lockPending = false;
    m_lockDenied.clear();
    m_lock = lock;
    if (lock) {
        connect(lock, &RebootLock::granted, this, &RestartPolicy::onGranted);
        connect(lock, &RebootLock::denied, this, &RestartPolicy::onDenied);
    }
    if (!m_restarting)
        evaluate();
}

void RestartPolicy::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void RestartPolicy::setTimeZone(const QTimeZone &zone)
{
    m_zone = zone;
}

void RestartPolicy::setRecheckInterval(int msec)
{
    m_recheckMs = qMax(1, msec);
}

void RestartPolicy::setConfig(const RestartConfig &config)
{
    if (!config.error.isEmpty() && config.error != m_loggedConfigError)
        m_logger.warning(config.error);
    m_loggedConfigError = config.error;
    m_config = config;
    evaluate();
}

void RestartPolicy::follow(std::shared_ptr<const StatusSnapshot> snapshot)
{
    const bool armed = snapshot->armed && snapshot->task == toInt(CurrentTask::DownloadCompleted);
    const bool postponedForPower = !snapshot->power.postponedForPower.isEmpty();
    if (armed == m_armed && snapshot->forcedMode == m_forced && snapshot->deadline == m_deadline
        && snapshot->version == m_version && postponedForPower == m_postponedForPower)
        return;
    if (armed && !m_armed) {
        // A new arming: earlier postponements and cancellations are over.
        m_cancelled = false;
        m_postponedUntil = QDateTime();
    }
    if (!armed && m_armed)
        m_mark.remove();
    m_armed = armed;
    m_forced = snapshot->forcedMode;
    m_deadline = snapshot->deadline;
    m_version = snapshot->version;
    m_postponedForPower = postponedForPower;
    evaluate();
}

bool RestartPolicy::deadlinePassed(const QDateTime &now) const
{
    return m_forced || (m_deadline.isValid() && m_deadline <= now);
}

bool RestartPolicy::planned() const
{
    return m_armed && m_config.mode != RestartConfig::Mode::Never && !m_cancelled;
}

int RestartPolicy::postpone(bool byRoot, const QString &who)
{
    const QDateTime now = m_clock();
    if (!planned())
        return NothingPlanned;
    if (!byRoot && deadlinePassed(now)) {
        m_logger.warning(QStringLiteral("Postponing the restart refused for %1: the deadline "
                                        "has passed")
                                 .arg(who));
        return RefusedAfterDeadline;
    }
    const MaintenanceWindow::Span span = m_config.window.spanAt(now, m_zone, m_postponedUntil);
    if (!span.isValid())
        return NothingPlanned;
    m_postponedUntil = span.close;
    abandon();
    m_restarting = false;
    m_logger.info(QStringLiteral("Restart postponed to the window after %1 by %2")
                          .arg(dayAndTime(span.close), who));
    evaluate();
    return Done;
}

int RestartPolicy::cancel(const QString &who)
{
    if (!planned())
        return NothingPlanned;
    abandon();
    m_restarting = false;
    m_cancelled = true;
    m_logger.info(QStringLiteral("Planned restart cancelled by %1").arg(who));
    evaluate();
    return Done;
}

void RestartPolicy::abandon()
{
    callOffAnnouncement();
    m_wantLock = false;
    m_lockDenied.clear();
    if (m_lockGranted && m_lock) {
        m_lockGranted = false;
        m_lock->release();
    }
}

void RestartPolicy::callOffAnnouncement()
{
    if (m_announcedFor.isValid()) {
        QString error;
        if (m_logind.cancelScheduledReboot(&error))
            m_logger.info(QStringLiteral("Announced restart called off"));
        else
            m_logger.warning(
                    QStringLiteral("Cannot call off the announced restart: %1").arg(error));
        m_announcedFor = QDateTime();
    }
}

void RestartPolicy::onGranted()
{
    m_lockPending = false;
    if (!m_wantLock) {
        // Granted after the restart was called off.
        if (m_lock)
            m_lock->release();
        return;
    }
    m_lockGranted = true;
    m_lockDenied.clear();
    m_logger.info(QStringLiteral("Reboot lock granted: %1").arg(m_lock->describe()));
    evaluate();
}

void RestartPolicy::onDenied(const QString &why)
{
    m_lockPending = false;
    if (!m_wantLock)
        return;
    // Asked again at the next check, not at once: a lock that refuses must
    // not be asked in a loop.
    m_lockDenied = why;
    setStatus(QStringLiteral("lock"), m_announcedFor,
              QStringLiteral("waiting for the fleet lock (%1)").arg(why));
}

void RestartPolicy::evaluate()
{
    m_timer->stop();
    const QDateTime now = m_clock();
    if (!planned()) {
        abandon();
        m_restarting = false;
        setStatus(QStringLiteral("cancelled"), QDateTime(),
                  m_cancelled && m_armed
                          ? QStringLiteral("cancelled by root until the update is armed again")
                          : QString());
        return;
    }
    if (m_restarting)
        return;
    if (restartedInVain()) {
        abandon();
        setStatus(QStringLiteral("error"), QDateTime(),
                  QStringLiteral("the last automatic restart did not install %1; restart by "
                                 "hand once the cause is mended")
                          .arg(m_version));
        return;
    }
    if (m_config.mode == RestartConfig::Mode::AfterDeadline && !deadlinePassed(now)) {
        abandon();
        setStatus(
                QStringLiteral("deadline"), QDateTime(),
                m_deadline.isValid()
                        ? QStringLiteral("waiting for the deadline, %1").arg(dayAndTime(m_deadline))
                        : QStringLiteral("waiting for the deadline"));
        if (m_deadline.isValid())
            wakeAt(now, m_deadline);
        return;
    }
    const MaintenanceWindow::Span span = m_config.window.spanAt(now, m_zone, m_postponedUntil);
    if (!span.contains(now)) {
        abandon();
        setStatus(QStringLiteral("window"), span.open,
                  QStringLiteral("outside the maintenance window, next %1")
                          .arg(dayAndTime(span.open)));
        wakeAt(now, span.open);
        return;
    }

    const QList<LogindClient::Inhibitor> blockers = m_logind.shutdownBlockers();
    if (!blockers.isEmpty()) {
        abandon();
        setStatus(QStringLiteral("inhibitor"), QDateTime(),
                  QStringLiteral("inhibited by %1: %2")
                          .arg(blockers.first().who, blockers.first().why));
        recheck(now, span);
        return;
    }
    const LogindClient::Power power = m_logind.power();
    if (power.onBattery && power.percent < m_config.minBatteryPercent) {
        abandon();
        setStatus(QStringLiteral("battery"), QDateTime(),
                  QStringLiteral("on battery (%1 %)").arg(power.percent));
        recheck(now, span);
        return;
    }

    if (!m_announcedFor.isValid() && m_config.announce.count() > 0) {
        const QStringList sessions = m_logind.interactiveSessions();
        if (!sessions.isEmpty()) {
            const QDateTime when = now.addSecs(qint64(m_config.announce.count()) * 60);
            if (when > span.close) {
                setStatus(QStringLiteral("users"), QDateTime(),
                          QStringLiteral("users logged in, the window closes before %1 minutes "
                                         "of notice end")
                                  .arg(m_config.announce.count()));
                wakeAt(now, span.close);
                return;
            }
            QString error;
            if (!m_logind.scheduleReboot(when, &error)) {
                setStatus(QStringLiteral("error"), QDateTime(),
                          QStringLiteral("cannot announce the restart: %1").arg(error));
                recheck(now, span);
                return;
            }
            m_announcedFor = when;
            m_logger.info(QStringLiteral("Restart announced for %1 to %2")
                                  .arg(dayAndTime(when), sessions.join(QStringLiteral(", "))));
        }
    }
    if (m_announcedFor.isValid() && now < m_announcedFor.addSecs(-LOCK_LEAD_S)) {
        setStatus(
                QStringLiteral("users"), m_announcedFor,
                QStringLiteral("users logged in, announced for %1").arg(timeOfDay(m_announcedFor)));
        const QDateTime lastChecks = m_announcedFor.addSecs(-LOCK_LEAD_S);
        wakeAt(now, qMin(lastChecks, now.addMSecs(m_recheckMs)));
        return;
    }

    if (m_lock && !m_lockGranted) {
        m_wantLock = true;
        if (!m_lockPending) {
            m_lockPending = true;
            m_lock->acquire();
        }
        // The answer may have come at once.
        if (!m_lockGranted) {
            // The login manager would reboot at the announced time without
            // the lock; people are told again once it is granted.
            callOffAnnouncement();
            setStatus(
                    QStringLiteral("lock"), m_announcedFor,
                    m_lockDenied.isEmpty()
                            ? QStringLiteral("waiting for the fleet lock (%1)")
                                      .arg(m_lock->describe())
                            : QStringLiteral("waiting for the fleet lock (%1)").arg(m_lockDenied));
            recheck(now, span);
        }
        return;
    }

    QString markError;
    if (!m_mark.write(m_version, &markError)) {
        m_logger.warning(QStringLiteral("No automatic restart: %1").arg(markError));
        setStatus(QStringLiteral("error"), QDateTime(),
                  QStringLiteral("cannot record the restart: %1").arg(markError));
        recheck(now, span);
        return;
    }
    m_restarting = true;
    ++m_attempts;
    if (m_announcedFor.isValid()) {
        ++m_successes;
        // The login manager reboots at the announced time.
        setStatus(QStringLiteral("restarting"), m_announcedFor,
                  QStringLiteral("restarting at %1").arg(timeOfDay(m_announcedFor)));
        m_logger.info(QStringLiteral("Every check passed, the restart at %1 stands")
                              .arg(timeOfDay(m_announcedFor)));
        return;
    }
    m_logger.info(QStringLiteral("Restarting into the armed upgrade"));
    QString error;
    if (!m_logind.reboot(&error)) {
        m_restarting = false;
        m_logger.warning(QStringLiteral("The login manager refused the restart: %1").arg(error));
        setStatus(QStringLiteral("error"), QDateTime(),
                  QStringLiteral("restart refused: %1").arg(error));
        recheck(now, span);
        return;
    }
    ++m_successes;
    setStatus(QStringLiteral("restarting"), now, QStringLiteral("restarting now"));
}

void RestartPolicy::setStatus(const QString &reason, const QDateTime &planned,
                              const QString &blocker)
{
    const RestartStatus status {planned, blocker,
                                blocker.isEmpty() ? QStringLiteral("none") : reason, m_attempts,
                                m_successes};
    if (status == m_status)
        return;
    if (blocker != m_status.blocker && !blocker.isEmpty())
        m_logger.info(QStringLiteral("Automatic restart: %1").arg(blocker));
    m_status = status;
    Q_EMIT statusChanged(m_status);
}

void RestartPolicy::wakeAt(const QDateTime &now, const QDateTime &at)
{
    const qint64 wait = qBound<qint64>(0, now.msecsTo(at), MAX_WAIT_MS);
    m_timer->start(int(wait));
}

void RestartPolicy::recheck(const QDateTime &now, const MaintenanceWindow::Span &span)
{
    wakeAt(now, qMin(span.close, now.addMSecs(m_recheckMs)));
}

QString RestartPolicy::dayAndTime(const QDateTime &moment) const
{
    return QLocale::c().toString(moment.toTimeZone(m_zone), QStringLiteral("ddd hh:mm"));
}

QString RestartPolicy::timeOfDay(const QDateTime &moment) const
{
    return moment.toTimeZone(m_zone).toString(QStringLiteral("hh:mm"));
}

bool RestartPolicy::restartedInVain() const
{
    // A boot after the offline upgrade acted on the release says so with
    // the power postponement; otherwise the daemon is no longer armed.
    return !m_postponedForPower && m_mark.madeBeforeThisBoot(m_version);
}
