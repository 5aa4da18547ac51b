// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "locktransport.h"
#include "rebootlock.h"

#include <QList>
#include <QString>
#include <QUrl>

// A slot from a FleetLock server: POST {base}/v1/pre-reboot to take it,
// {base}/v1/steady-state to give it back. 200 is success; any other answer
// is passed on as the server gave it ("KIND: VALUE" from its JSON error
// body, else the status and the text). Requests that get no answer are
// repeated (the protocol's locks are recursive, so a repeat after a lost
// answer is harmless); answers are final for the request.
class FleetLockClient : public RebootLock
{
    Q_OBJECT

public:
    FleetLockClient(const QUrl &base, const QString &group, const QString &id,
                    QObject *parent = nullptr);

    void acquire() override;
    void release() override;
    QString describe() const override;

    LockTransport *transport() const;

private:
    enum class Op { Acquire, Release };
    void startNext();
    void onAnswer(Op op, const LockTransport::Answer &answer);

    QUrl m_base;
    QString m_group;
    QString m_id;
    LockTransport *m_transport;
    QList<Op> m_queue;
};
