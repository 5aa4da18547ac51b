// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// A real etcd cluster of three members on loopback ports picked at start,
// each with a data directory of its own under `baseDir`, for tests of the
// fleet's reboot lock. Members can be stopped and started again with their
// data, one or all. Everything is stopped when the object goes.
class EtcdCluster
{
public:
    static constexpr int MEMBERS = 3;

    explicit EtcdCluster(const QString &baseDir);
    ~EtcdCluster();

    // Empty when Debian's etcd-server is installed; otherwise what to do.
    static QString missingPackage();

    // Starts all members and waits until each one serves; false and
    // `error` (with the members' output) when it does not within the time.
    bool start(QString *error);
    // Starts a member that is not running; does not wait for it.
    bool startMember(int index, QString *error);
    // Waits until every running member serves (a cluster that just came
    // back needs a leader first).
    bool awaitServing(QString *error);
    void stopMember(int index);
    void stopAll();

    QString clientUrl(int index) const;
    // Every member's client URL, comma-separated.
    QString clientUrls() const;

    // Runs etcdctl against the running members; its standard output, or
    // an empty array with `ok` false.
    QByteArray etcdctl(const QStringList &arguments, bool *ok = nullptr) const;
    // The value under `key` as etcd holds it (empty when absent).
    QByteArray value(const QByteArray &key, bool *ok = nullptr) const;

private:
    bool waitServing(int index, QString *error);

    QString m_baseDir;
    QString m_token;
    QVector<int> m_clientPorts;
    QVector<int> m_peerPorts;
    QVector<std::shared_ptr<QProcess>> m_members;
};
