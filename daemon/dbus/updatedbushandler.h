// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QHash>
#include <QList>

#include <functional>
#include <memory>

class Daemon;
class PolkitAuthority;
class RebootSlotKeeper;
class RestartPolicy;
class RestartRequests;
class QDBusConnection;
class QDBusMessage;
class StatusPublisher;
struct StatusSnapshot;

// Receives the calls of the daemon's bus object on a thread other than the
// daemon's, so that the bus answers while the daemon's thread waits for a
// stage run.
// Reads are answered from the publisher's latest snapshot. Changes are
// handed to the daemon's thread and answered from there once done (a
// delayed reply); an operation that throws is answered with an error reply
// instead of taking the daemon down. The changes of one sender are carried
// out in the order they arrived, also when one of them waits for polkit.
// The adaptors are what the bus sees, but the call context lands here.
class UpdateDBusHandler : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupdateservice")
    // Read by the status adaptor.
    Q_PROPERTY(int State READ state)
    Q_PROPERTY(QString StateName READ stateName)
    Q_PROPERTY(int Error READ error)
    Q_PROPERTY(QString TargetRelease READ targetRelease)
    Q_PROPERTY(qlonglong Deadline READ deadline)
    Q_PROPERTY(bool Forced READ forced)
    Q_PROPERTY(bool Armed READ armed)
    Q_PROPERTY(QStringList Packages READ packages)
    Q_PROPERTY(qlonglong LastCheck READ lastCheck)
    Q_PROPERTY(QString LastResult READ lastResult)
    Q_PROPERTY(QString Health READ health)
    Q_PROPERTY(QStringList HealthReasons READ healthReasons)
    Q_PROPERTY(qlonglong HealthChecked READ healthChecked)
    Q_PROPERTY(QString DownloadHeld READ downloadHeld)
    Q_PROPERTY(QString PostponedForPower READ postponedForPower)
    Q_PROPERTY(qlonglong RestartPlanned READ restartPlanned)
    Q_PROPERTY(QString RestartBlocker READ restartBlocker)
    Q_PROPERTY(bool RebootLockHeld READ rebootLockHeld)
    Q_PROPERTY(qlonglong RebootLockSince READ rebootLockSince)
    Q_PROPERTY(QString RebootLockText READ rebootLockText)

public:
    // Neither is owned; both must outlive the handler.
    UpdateDBusHandler(Daemon *daemon, StatusPublisher *publisher, QObject *parent = nullptr);

    int state() const;
    QString stateName() const;
    int error() const;
    QString targetRelease() const;
    qlonglong deadline() const;
    bool forced() const;
    bool armed() const;
    QStringList packages() const;
    qlonglong lastCheck() const;
    QString lastResult() const;
    QString health() const;
    QStringList healthReasons() const;
    qlonglong healthChecked() const;
    QString downloadHeld() const;
    QString postponedForPower() const;
    qlonglong restartPlanned() const;
    QString restartBlocker() const;
    bool rebootLockHeld() const;
    qlonglong rebootLockSince() const;
    QString rebootLockText() const;

    // Read calls and refused changes are counted, not logged one by one:
    // any user may make them, as often as they like.
    static constexpr int SUMMARY_INTERVAL_MS = 60000;

    // The polkit actions of the changes that users other than root may ask
    // for (data/os.kirtalinux.zun.kirtaupdateservice.policy).
    static const char *const ARM_ACTION;
    static const char *const DISARM_ACTION;
    static const char *const CLEAR_RESULT_ACTION;
    static const char *const POSTPONE_RESTART_ACTION;

    // The automatic restart that postponeRestart and cancelRestart steer;
    // not owned, set before the object is on the bus. Without one both
    // answer that nothing is planned.
    void setRestartPolicy(RestartPolicy *policy);
    // The fleet lock's slot that releaseRebootLock gives back; not owned,
    // set before the object is on the bus.
    void setSlotKeeper(RebootSlotKeeper *keeper);

public Q_SLOTS:
    QString getUpdateDateAsString();
    QString getCurrentStateAsString();
    int getCurrentStateAsInt();
    int getCurrentErrorAsInt();
    int enableUpgradeOnReboot();
    int disableUpgradeOnReboot();
    int setStateFromOutside(int stateAsInt);
    bool isUpgradeOnRebootEnabled();
    int removeUpgradeResultStamp(int type);
    QString getMinorUpdateVersion();
    int enableAndStartActivatingService();
    int postponeRestart();
    int cancelRestart();
    int releaseRebootLock();

private:
    using Change = std::function<int(Daemon *)>;
    // A change waiting for its turn, and for polkit when it needs it.
    struct QueuedChange
    {
        enum class Verdict { Waiting, Allowed, Refused };
        QDBusMessage call;
        QDBusConnection bus;
        Change change;
        Verdict verdict = Verdict::Waiting;
    };
    std::shared_ptr<const StatusSnapshot> snapshot() const;
    std::shared_ptr<const StatusSnapshot> read();
    void count(int *counter);
    // The daemon's Log_level, as last published.
    void followLogLevel();
    // Runs `change` on the daemon's thread and answers the call from there;
    // `fallback` is what a throwing operation yields outside the bus. With
    // an `action`, a caller other than root needs polkit's consent first;
    // without, the bus policy lets only root call.
    int change(int fallback, Change change, const char *action = nullptr);
    // Hands on the changes of `sender` that are decided, in arrival order,
    // up to the first still waiting for polkit.
    void runDecided(const QString &sender);
    void dispatch(const QDBusMessage &call, const QDBusConnection &bus, const Change &change);
    void refuse(const QDBusMessage &call, const QDBusConnection &bus);

    Daemon *m_daemon = nullptr;
    StatusPublisher *m_publisher = nullptr;
    Logger m_logger;
    // Touched on the bus thread only.
    int m_readCalls = 0;
    int m_refusedCalls = 0;
    QElapsedTimer m_summaryWindow;
    PolkitAuthority *m_authority = nullptr;
    // Per sender, its changes not yet handed on.
    QHash<QString, QList<std::shared_ptr<QueuedChange>>> m_queues;
    RestartRequests *m_restartRequests = nullptr;
};
