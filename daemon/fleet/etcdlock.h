// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "locktransport.h"
#include "rebootlock.h"

#include <QList>
#include <QString>
#include <QUrl>

class QJsonObject;

// A slot in a counting semaphore kept in etcd, in the same record that the
// etcd-backed FleetLock server keeps, so machines that ask such a server
// and machines that talk to etcd directly share the slots of a group.
//
// The record: key "com.coreos.airlock/groups/GROUP/v1/semaphore" (GROUP
// query-escaped), value {"total_slots": N, "holders": [ids, sorted]}. It is
// created, when missing, with the configured slot count by a transaction
// that requires the key's version to be 0; after that its own slot count
// rules. Every change is a transaction requiring the version just read,
// read again and redone when another machine changed the record in
// between. Taking a slot already held and giving back one not held succeed
// without a write.
//
// etcd is reached through its v3 JSON gateway (/v3/kv/range, /v3/kv/txn,
// base64 keys and values) at any of the cluster's endpoints: one that does
// not answer, or answers that it cannot serve, hands over to the next.
// With a user, a token from /v3/auth/authenticate goes with each request
// and is renewed once when etcd rejects it.
class EtcdLock : public RebootLock
{
    Q_OBJECT

public:
    EtcdLock(const QList<QUrl> &endpoints, const QString &group, const QString &id, int slotCount,
             QObject *parent = nullptr);

    // The password is read from `passwordFile` at each login, so a changed
    // file needs no restart.
    void setCredentials(const QString &user, const QString &passwordFile);

    void acquire() override;
    void release() override;
    QString describe() const override;

    LockTransport *transport() const;

    static QByteArray recordKey(const QString &group);

private:
    enum class Op { Acquire, Release };
    void startNext();
    void login();
    void read();
    void create();
    void write(qint64 version, const QByteArray &value);
    void onRead(const LockTransport::Answer &answer);
    // True when the answer is usable; otherwise the operation ended (denied)
    // or started again with a fresh token.
    bool accept(const LockTransport::Answer &answer);
    void succeed();
    void fail(const char *kind, const QString &why);
    QByteArray request(const QJsonObject &object) const;

    QString m_group;
    QString m_id;
    int m_slots;
    QString m_user;
    QString m_passwordFile;
    QByteArray m_token;
    LockTransport *m_transport;
    QList<Op> m_queue;

    // The operation in progress.
    bool m_running = false;
    Op m_op = Op::Acquire;
    int m_conflicts = 0;
    bool m_loginRenewed = false;
};
