// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"
#include "logindclient.h"
#include "restartconfig.h"
#include "restartmark.h"
#include "restartstatus.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimeZone>

#include <functional>
#include <memory>

class QTimer;
class RebootLock;
struct StatusSnapshot;

// Restarts the machine into an armed upgrade at a time the administrator
// chose (RestartConfig), without surprising people and never on a low
// battery. It follows the daemon's published status and tells clients what
// it plans through statusChanged().
//
// Inside an open window, in this order: no other program holds a block-mode
// shutdown inhibitor, the battery is not low, people logged in have been
// told ahead (the login manager announces the reboot), the fleet's reboot
// lock (when there is one) is granted; then the login manager reboots. Any
// guard that fails is asked again once a minute while the window is open;
// a closed window waits for the next one. With nothing armed, or the policy
// "never", no timer runs.
class RestartPolicy : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    enum Answer {
        Done = 0,
        // No restart is planned, nothing was changed.
        NothingPlanned = 1,
        // Past the deadline (or in forced mode) only root may postpone.
        RefusedAfterDeadline = 2,
    };

    // `lock` is not owned and may be null (no fleet lock).
    RestartPolicy(const QDBusConnection &bus, RebootLock *lock = nullptr,
                  QObject *parent = nullptr);

    // For tests and other zones than the system's: what "now" and "local
    // time" are, and how often a blocked restart is asked again.
    void setClock(Clock clock);
    void setTimeZone(const QTimeZone &zone);
    void setRecheckInterval(int msec);
    // Another lock, when the settings name a different one; not owned, may
    // be null. What was asked of the old one is forgotten, a slot it
    // granted is given back.
    void setLock(RebootLock *lock);

    RestartStatus status() const { return m_status; }

    // The lock is asked for this many seconds before the announced time,
    // with the last checks, so that a refusal can still
    // call the announcement off.
    static constexpr int LOCK_LEAD_S = 60;
    static constexpr int RECHECK_MS = 60000;

public Q_SLOTS:
    void setConfig(const RestartConfig &config);
    // The daemon's status as published: whether an upgrade is armed, its
    // deadline, forced mode.
    void follow(std::shared_ptr<const StatusSnapshot> snapshot);
    // Moves a planned restart to the next window. `byRoot` callers may do
    // so after the deadline too. `who` names the caller for the log.
    int postpone(bool byRoot, const QString &who);
    // Root only: no automatic restart until the upgrade is armed anew.
    int cancel(const QString &who);
    // Looks at everything again and acts.
    void evaluate();

Q_SIGNALS:
    void statusChanged(const RestartStatus &status);

private:
    void onGranted();
    void onDenied(const QString &why);
    bool deadlinePassed(const QDateTime &now) const;
    bool planned() const;
    // Calls off what is under way: the announcement, the lock.
    void abandon();
    void callOffAnnouncement();
    void setStatus(const QString &reason, const QDateTime &planned, const QString &blocker);
    void wakeAt(const QDateTime &now, const QDateTime &at);
    void recheck(const QDateTime &now, const MaintenanceWindow::Span &span);
    // True when an automatic restart for the armed release came back with
    // it still armed and no word from the offline upgrade: restarting again
    // would loop.
    bool restartedInVain() const;
    QString dayAndTime(const QDateTime &moment) const;
    QString timeOfDay(const QDateTime &moment) const;

    LogindClient m_logind;
    RestartMark m_mark;
    QPointer<RebootLock> m_lock;
    Logger m_logger;
    QTimer *m_timer = nullptr;
    Clock m_clock;
    QTimeZone m_zone;
    int m_recheckMs = RECHECK_MS;
    RestartConfig m_config;
    QString m_loggedConfigError;

    // From the daemon's status.
    bool m_armed = false;
    bool m_forced = false;
    QDateTime m_deadline;
    QString m_version;
    bool m_postponedForPower = false;

    // The restart under way.
    QDateTime m_postponedUntil;
    QDateTime m_announcedFor;
    bool m_cancelled = false;
    bool m_restarting = false;
    bool m_wantLock = false;
    bool m_lockPending = false;
    bool m_lockGranted = false;
    QString m_lockDenied;

    RestartStatus m_status;
    qint64 m_attempts = 0;
    qint64 m_successes = 0;
};
