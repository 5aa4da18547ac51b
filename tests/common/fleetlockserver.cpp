// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "fleetlockserver.h"

#include "waituntil.h"

#include <QFile>
#include <QJsonDocument>

FleetLockServer::~FleetLockServer()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool FleetLockServer::start(const QStringList &arguments, const QString &log)
{
    m_log = log;
    QFile::remove(log);
    m_process.setProgram(QStringLiteral("/usr/bin/python3"));
    m_process.setArguments(QStringList {qEnvironmentVariable("KIRTA_SOURCE_DIR")
                                                + QStringLiteral("/tests/fleet/fleetlock-server"),
                                        QStringLiteral("--log"), log}
                           + arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    if (!waitUntil([&]() { return m_process.canReadLine(); }, 10000))
        return false;
    m_port = m_process.readLine().trimmed().toInt();
    return m_port > 0;
}

QUrl FleetLockServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

QList<QJsonObject> FleetLockServer::requests() const
{
    QList<QJsonObject> list;
    QFile file(m_log);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                list.append(QJsonDocument::fromJson(line).object());
        }
    }
    return list;
}
