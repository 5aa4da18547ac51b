// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "healthstatus.h"
#include "logger.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class ChildProcess;
class QTimer;
struct StatusSnapshot;

// Whether the system came up well from an upgrade boot. Once the boot has
// settled (systemctl is-system-running --wait, bounded), the system counts
// as healthy when no unit failed that had not failed already when the
// upgrade was armed, every check of the administrator in the health hooks
// directory passes (each bounded, refused unless only root can change it),
// and the daemon's own bus object answers.
//
// Each step runs as a child left going, so the daemon's thread never waits.
class HealthCheck : public QObject
{
    Q_OBJECT

public:
    explicit HealthCheck(QObject *parent = nullptr);
    ~HealthCheck() override;

    void setSettleTimeout(std::chrono::minutes timeout) { m_settleTimeout = timeout; }
    void setCheckTimeout(std::chrono::milliseconds timeout) { m_checkTimeout = timeout; }
    void setRollback(bool rollback) { m_rollback = rollback; }

    // Records the units that have failed already when the upgrade gets
    // armed; they do not count against the upgrade.
    void follow(const StatusSnapshot &snapshot);
    // The check after an upgrade boot; the result comes with finished().
    void run();
    const HealthStatus &status() const { return m_status; }

    // Bound of each administrator's check.
    static constexpr std::chrono::seconds DEFAULT_CHECK_TIMEOUT {60};

Q_SIGNALS:
    void statusChanged(const HealthStatus &status);
    // Exactly one of these ends each run; a fleet lock follows them.
    void healthy();
    void unhealthy(const QStringList &reasons);

private:
    using Done = std::function<void(int exitCode, bool ended, const QByteArray &output)>;
    // Starts `program` and calls `done` once it ended by itself or was
    // ended after `timeout`.
    void m_start(const QString &program, const QStringList &arguments,
                 std::chrono::milliseconds timeout, Done done);
    void m_recordFailedUnits();
    void m_settled(int exitCode, bool ended, const QByteArray &output);
    void m_failedUnits(const QByteArray &output);
    void m_nextAdminCheck();
    void m_pingOwnBus();
    void m_finish();
    void m_rollBack();
    static QSet<QString> m_parseUnits(const QByteArray &output);

    Logger m_logger;
    std::chrono::minutes m_settleTimeout {10};
    std::chrono::milliseconds m_checkTimeout {DEFAULT_CHECK_TIMEOUT};
    bool m_rollback = false;
    bool m_wasArmed = false;
    bool m_armedSeen = false;
    HealthStatus m_status;
    QStringList m_reasons;
    QStringList m_adminChecks;
    ChildProcess *m_process = nullptr;
    QTimer *m_bound = nullptr;
};
