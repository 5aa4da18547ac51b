// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusPendingCallWatcher;
class QTimer;
struct StatusSnapshot;

// Holds downloads back while NetworkManager reports the connection as
// metered ("Metered" 1 yes or 3 guessed yes), unless the administrator
// allows metered downloads, forced mode is on, or the deadline has passed.
// Follows the property through PropertiesChanged and NetworkManager coming
// and going on the bus; no NetworkManager means not metered.
class MeteredWatch : public QObject
{
    Q_OBJECT

public:
    explicit MeteredWatch(QObject *parent = nullptr);

    // Reads the property and follows it from now on.
    void start();
    void setAllowMetered(bool allow);
    // Forced mode and the deadline, as the daemon publishes them.
    void follow(const StatusSnapshot &snapshot);

    bool isMetered() const { return m_metered; }
    // Why downloads wait now; "" when they do not.
    QString holdReason() const { return m_hold; }

Q_SIGNALS:
    void holdChanged(const QString &reason);

private Q_SLOTS:
    void m_propertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    void m_read();
    void m_setMetered(bool metered);
    void m_decide();

    Logger m_logger;
    bool m_metered = false;
    bool m_allowMetered = false;
    bool m_forced = false;
    QDateTime m_deadline;
    QString m_hold;
    QTimer *m_deadlineTimer = nullptr;
};
