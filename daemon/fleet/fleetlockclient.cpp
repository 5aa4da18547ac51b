// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "fleetlockclient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace {
const int MAX_QUOTED_BODY = 200;

// A FleetLock error body as it came, or the bare answer when it is not one.
QString answerText(int status, const QByteArray &body)
{
    const QJsonObject error = QJsonDocument::fromJson(body).object();
    const QString kind = error.value(QLatin1String("kind")).toString();
    const QString value = error.value(QLatin1String("value")).toString();
    if (!kind.isEmpty() || !value.isEmpty())
        return QStringLiteral("%1: %2").arg(kind, value);
    QString text = QString::fromUtf8(body).simplified();
    if (text.size() > MAX_QUOTED_BODY)
        text = text.left(MAX_QUOTED_BODY) + QStringLiteral("…");
    return text.isEmpty() ? QStringLiteral("HTTP %1").arg(status)
                          : QStringLiteral("HTTP %1: %2").arg(status).arg(text);
}
} // namespace

FleetLockClient::FleetLockClient(const QUrl &base, const QString &group, const QString &id,
                                 QObject *parent)
    : RebootLock(parent)
    , m_base(base)
    , m_group(group)
    , m_id(id)
    , m_transport(new LockTransport({base}, this))
{
    m_transport->setHeader(QByteArrayLiteral("fleet-lock-protocol"), QByteArrayLiteral("true"));
}

LockTransport *FleetLockClient::transport() const
{
    return m_transport;
}

QString FleetLockClient::describe() const
{
    return QStringLiteral("FleetLock server %1 group %2 as %3")
            .arg(m_base.toDisplayString(), m_group, m_id);
}

void FleetLockClient::acquire()
{
    countRequest(true);
    m_queue.append(Op::Acquire);
    startNext();
}

void FleetLockClient::release()
{
    countRequest(false);
    m_queue.append(Op::Release);
    startNext();
}

void FleetLockClient::startNext()
{
    if (m_transport->busy() || m_queue.isEmpty())
        return;
    const Op op = m_queue.takeFirst();
    const QJsonObject params {{QStringLiteral("id"), m_id}, {QStringLiteral("group"), m_group}};
    const QJsonObject body {{QStringLiteral("client_params"), params}};
    const QString path = op == Op::Acquire ? QStringLiteral("/v1/pre-reboot")
                                           : QStringLiteral("/v1/steady-state");
    m_transport->post(path, QJsonDocument(body).toJson(QJsonDocument::Compact),
                      [this, op](const LockTransport::Answer &answer) { onAnswer(op, answer); });
}

void FleetLockClient::onAnswer(Op op, const LockTransport::Answer &answer)
{
    // A receiver may delete the lock from its slot.
    const QPointer<FleetLockClient> self(this);
    if (answer.answered && answer.status == 200) {
        if (op == Op::Acquire)
            Q_EMIT granted();
        else
            Q_EMIT released();
    } else if (answer.answered) {
        refuse(SERVER, answerText(answer.status, answer.body));
    } else {
        refuse(UNREACHABLE,
               QStringLiteral("the FleetLock server did not answer: %1").arg(answer.error));
    }
    if (self)
        startNext();
}
