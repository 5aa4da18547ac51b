// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

// tests/fleet/fleetlock-server as a child process, on a loopback port it
// picks. Killed when the object goes.
class FleetLockServer
{
public:
    FleetLockServer() = default;
    ~FleetLockServer();
    FleetLockServer(const FleetLockServer &) = delete;
    FleetLockServer &operator=(const FleetLockServer &) = delete;

    // `arguments` go to the server after --log `log`; false when it does
    // not tell its port in time.
    bool start(const QStringList &arguments, const QString &log);
    QUrl url() const;
    // The requests it got, one JSON object each.
    QList<QJsonObject> requests() const;

private:
    QProcess m_process;
    QString m_log;
    int m_port = 0;
};
