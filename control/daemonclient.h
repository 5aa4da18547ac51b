// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "daemonproxy.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QVariantMap>

// The update daemon as a client on the system bus sees it: its methods
// (through the proxy generated from the interface file) and its Status
// properties, read whole or followed through PropertiesChanged.
class DaemonClient : public QObject
{
    Q_OBJECT
public:
    static const char *const SERVICE;
    static const char *const PATH;
    static const char *const STATUS_INTERFACE;

    explicit DaemonClient(const QDBusConnection &bus, QObject *parent = nullptr);

    bool isOnBus() const;

    // Every Status property in one call; false, with `error` set, when the
    // daemon did not answer with them.
    bool readStatus(QVariantMap *properties, QString *error) const;

    // The same without waiting: statusRead() or statusUnreadable() follows.
    // Signals that arrive meanwhile were sent before the answer and are part
    // of it; they are dropped, so that no older change lands on the newer
    // answer.
    void requestStatus();

    // Starts following changes: propertiesChanged() for each signal of the
    // daemon, and appeared() / vanished() when it enters or leaves the bus.
    bool follow();

    DaemonProxy &methods() { return m_methods; }

Q_SIGNALS:
    void propertiesChanged(const QVariantMap &changed);
    void appeared();
    void vanished();
    void statusRead(const QVariantMap &properties);
    void statusUnreadable(const QString &error);

private Q_SLOTS:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    QDBusConnection m_bus;
    DaemonProxy m_methods;
    QDBusServiceWatcher m_watcher;
    int m_pendingReads = 0;
};
