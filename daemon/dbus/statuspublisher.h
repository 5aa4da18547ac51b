// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "metricsfile.h"
#include "statussnapshot.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class Daemon;

// Keeps the latest StatusSnapshot of the daemon for the bus thread. It lives
// on the daemon's thread and takes a new snapshot whenever that thread's
// event loop is about to wait, so every change is seen once the operation
// that made it has returned, and a change of several members in one turn
// is published once. The snapshot is taken from members only: a loop turn
// costs a few comparisons, never a file access. Each published change also
// goes to the metrics file, when one is configured.
class StatusPublisher : public QObject
{
    Q_OBJECT

public:
    // `daemon` is not owned and must outlive the publisher.
    explicit StatusPublisher(Daemon *daemon, QObject *parent = nullptr);

    // The latest published snapshot; safe from any thread.
    std::shared_ptr<const StatusSnapshot> current() const;

    // Takes a snapshot at every wait of this thread's event loop from now
    // on, and announces changes on the system bus. Publishes at once.
    void follow();

public Q_SLOTS:
    // Daemon's thread only: takes a snapshot and publishes it if it differs.
    void publish();
    // Reads the result stamps again (at start and after one is removed:
    // nothing else changes them while the daemon runs).
    void refreshResultStamps();
    // What the daemon's parts found; kept in every snapshot from now on.
    void setHealthStatus(const HealthStatus &health);
    void setPowerStatus(const PowerStatus &power);
    // What the restart policy plans; published at the next wait.
    void setRestartStatus(const RestartStatus &status);
    // Whether a slot of the fleet lock is held; published at the next wait.
    void setRebootLockStatus(const RebootLockStatus &status);
    // Where the metrics go ("Metrics_file", "" none). A new place gets the
    // state at once, not only at its next change.
    void setMetricsFile(const QString &path);

Q_SIGNALS:
    // Daemon's thread: a snapshot that differs from the one before.
    void published(std::shared_ptr<const StatusSnapshot> snapshot);

private:
    void announce(const QVariantMap &changed);

    Daemon *m_daemon = nullptr;
    mutable QMutex m_mutex;
    std::shared_ptr<const StatusSnapshot> m_current;
    QVariantMap m_properties;
    MetricsFile m_metrics;
    QString m_metricsPath;
    bool m_published = false;
    QString m_lastResult = QStringLiteral("none");
    HealthStatus m_health;
    PowerStatus m_power;
    RestartStatus m_restart;
    RebootLockStatus m_rebootLock;
    int m_publishedState = 0;
    QString m_publishedWord;
    QDateTime m_stateChanged;
    // Kept once seen: clearing the result stamp does not undo the upgrade.
    QDateTime m_lastSuccess;
    bool m_following = false;
};
