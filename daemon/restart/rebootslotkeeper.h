// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"
#include "rebootlockstatus.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QTimer;
class RebootLock;

// Keeps a slot of the fleet's reboot lock across the restart into an
// upgrade and gives it back only once the machine came up well, so one bad
// update stops at the first machine instead of walking through the group.
// A small mark file says that the slot is held; it outlives the restart.
//
// The slot is given back when it is held, no restart is planned, and the
// upgrade boot (if this start is one) was judged healthy. An unhealthy
// system or a failed offline upgrade keeps it until root releases it by
// hand. Nothing is sent and no timer runs while no slot is held.
class RebootSlotKeeper : public QObject
{
    Q_OBJECT

public:
    // What is known of the boot the daemon started in.
    enum class Verdict {
        // Not an upgrade boot.
        None,
        // An upgrade boot, whose check has not answered yet.
        Judging,
        Healthy,
        Unhealthy,
        // The offline upgrade itself failed.
        UpgradeFailed,
    };

    enum Answer {
        Asked = 0,
        NothingHeld = 1,
        NoLock = 2,
    };

    explicit RebootSlotKeeper(const QString &markPath, QObject *parent = nullptr);

    // Not owned, may be null (no lock, or none usable).
    void setLock(RebootLock *lock);
    RebootLockStatus status() const { return m_status; }

    // How long a failed give-back waits before it is tried again.
    void setRetryInterval(int msec);
    static constexpr int RETRY_MS = 5 * 60 * 1000;

public Q_SLOTS:
    // Nothing is given back before this: the verdict and the restart plan
    // of the start must be known first.
    void begin();
    void setVerdict(RebootSlotKeeper::Verdict verdict, const QStringList &reasons = {});
    void setRestartPlanned(bool planned);
    // Root, once a person has looked: gives the slot back whatever the
    // verdict.  names the caller for the log.
    int releaseByHand(const QString &who);

Q_SIGNALS:
    void statusChanged(const RebootLockStatus &status);

private:
    void onGranted();
    void onReleased();
    void onDenied(const QString &why);
    void consider();
    void giveBack();
    void publish(const QString &text);
    bool writeMark();

    QString m_markPath;
    QPointer<RebootLock> m_lock;
    Logger m_logger;
    QTimer *m_retry = nullptr;
    bool m_begun = false;
    bool m_held = false;
    QDateTime m_since;
    Verdict m_verdict = Verdict::None;
    QStringList m_reasons;
    bool m_restartPlanned = false;
    bool m_releasing = false;
    bool m_byHand = false;
    QString m_releaseError;
    RebootLockStatus m_status;
    // Only the counts are used.
    RebootLockStatus m_answers;
};
