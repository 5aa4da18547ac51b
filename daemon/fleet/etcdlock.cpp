// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "etcdlock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace {

// Another machine changing the record between our read and our write makes
// us read again; this many in a row mean something is wrong.
const int MAX_CONFLICTS = 50;
const int MAX_QUOTED_TEXT = 200;

QString b64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

qint64 int64Of(const QJsonValue &value)
{
    // The gateway writes 64-bit numbers as strings.
    return value.isString() ? value.toString().toLongLong() : qint64(value.toDouble());
}

QString shortText(const QByteArray &body)
{
    QString text = QString::fromUtf8(body).simplified();
    if (text.size() > MAX_QUOTED_TEXT)
        text = text.left(MAX_QUOTED_TEXT) + QStringLiteral("…");
    return text;
}

// What etcd said in a failed answer: {"error": …, "code": …, "message": …}.
QString etcdMessage(const LockTransport::Answer &answer)
{
    const QJsonObject error = QJsonDocument::fromJson(answer.body).object();
    QString message = error.value(QLatin1String("message")).toString();
    if (message.isEmpty())
        message = error.value(QLatin1String("error")).toString();
    if (message.isEmpty())
        message = shortText(answer.body);
    return QStringLiteral("HTTP %1 %2").arg(answer.status).arg(message);
}

struct Record
{
    bool valid = false;
    int totalSlots = 0;
    QStringList holders;
    QJsonObject rest; // fields we do not know, kept as they were
};

Record parseRecord(const QByteArray &value)
{
    Record record;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(value, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return record;
    QJsonObject object = document.object();
    const QJsonValue slotCount = object.take(QLatin1String("total_slots"));
    const QJsonValue holders = object.take(QLatin1String("holders"));
    if (!slotCount.isDouble()
        || (!holders.isArray() && !holders.isNull() && !holders.isUndefined()))
        return record;
    for (const QJsonValue &holder : holders.toArray()) {
        if (!holder.isString())
            return record;
        record.holders.append(holder.toString());
    }
    record.totalSlots = slotCount.toInt();
    record.rest = object;
    record.valid = true;
    return record;
}

// In the field order the FleetLock server writes, unknown fields after.
QByteArray recordText(const Record &record)
{
    QStringList holders = record.holders;
    holders.sort();
    QByteArray text
            = "{\"total_slots\":" + QByteArray::number(record.totalSlots) + ",\"holders\":"
              + QJsonDocument(QJsonArray::fromStringList(holders)).toJson(QJsonDocument::Compact);
    for (auto it = record.rest.constBegin(); it != record.rest.constEnd(); ++it) {
        const QByteArray pair = QJsonDocument(QJsonObject {{it.key(), it.value()}})
                                        .toJson(QJsonDocument::Compact);
        text += ',' + pair.mid(1, pair.size() - 2);
    }
    return text + '}';
}

} // namespace

EtcdLock::EtcdLock(const QList<QUrl> &endpoints, const QString &group, const QString &id,
                   int slotCount, QObject *parent)
    : RebootLock(parent)
    , m_group(group)
    , m_id(id)
    , m_slots(qMax(1, slotCount))
    , m_transport(new LockTransport(endpoints, this))
{
    m_transport->setRetryServerErrors(true);
}

void EtcdLock::setCredentials(const QString &user, const QString &passwordFile)
{
    m_user = user;
    m_passwordFile = passwordFile;
    m_token.clear();
}

LockTransport *EtcdLock::transport() const
{
    return m_transport;
}

QByteArray EtcdLock::recordKey(const QString &group)
{
    return "com.coreos.airlock/groups/" + QUrl::toPercentEncoding(group) + "/v1/semaphore";
}

QString EtcdLock::describe() const
{
    QStringList endpoints;
    for (const QUrl &url : m_transport->servers())
        endpoints.append(url.toDisplayString());
    return QStringLiteral("etcd %1 group %2 as %3")
            .arg(endpoints.join(QLatin1Char(',')), m_group, m_id);
}

void EtcdLock::acquire()
{
    countRequest(true);
    m_queue.append(Op::Acquire);
    startNext();
}

void EtcdLock::release()
{
    countRequest(false);
    m_queue.append(Op::Release);
    startNext();
}

void EtcdLock::startNext()
{
    if (m_running || m_queue.isEmpty())
        return;
    m_running = true;
    m_op = m_queue.takeFirst();
    m_conflicts = 0;
    m_loginRenewed = false;
    if (!m_user.isEmpty() && m_token.isEmpty())
        login();
    else
        read();
}

QByteArray EtcdLock::request(const QJsonObject &object) const
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void EtcdLock::login()
{
    QFile file(m_passwordFile);
    if (m_passwordFile.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        fail(CONFIGURATION,
             QStringLiteral("the etcd password file %1 cannot be read").arg(m_passwordFile));
        return;
    }
    QByteArray password = file.readAll();
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    const QJsonObject body {{QStringLiteral("name"), m_user},
                            {QStringLiteral("password"), QString::fromUtf8(password)}};
    m_transport->setHeader(QByteArrayLiteral("Authorization"), QByteArray());
    m_transport->post(
            QStringLiteral("/v3/auth/authenticate"), request(body),
            [this](const LockTransport::Answer &answer) {
                if (!answer.answered) {
                    fail(UNREACHABLE,
                         QStringLiteral("no etcd endpoint answered: %1").arg(answer.error));
                    return;
                }
                const QByteArray token = QJsonDocument::fromJson(answer.body)
                                                 .object()
                                                 .value(QLatin1String("token"))
                                                 .toString()
                                                 .toUtf8();
                if (answer.status != 200 || token.isEmpty()) {
                    fail(SERVER, QStringLiteral("etcd refused the login of %1: %2")
                                         .arg(m_user, etcdMessage(answer)));
                    return;
                }
                m_token = token;
                m_transport->setHeader(QByteArrayLiteral("Authorization"), m_token);
                read();
            });
}

bool EtcdLock::accept(const LockTransport::Answer &answer)
{
    if (!answer.answered) {
        fail(UNREACHABLE, QStringLiteral("no etcd endpoint answered: %1").arg(answer.error));
        return false;
    }
    if (answer.status == 401 && !m_user.isEmpty() && !m_loginRenewed) {
        // Tokens expire; one fresh login per operation.
        m_loginRenewed = true;
        m_token.clear();
        login();
        return false;
    }
    if (answer.status != 200) {
        fail(SERVER, QStringLiteral("etcd: %1").arg(etcdMessage(answer)));
        return false;
    }
    return true;
}

void EtcdLock::read()
{
    const QJsonObject body {{QStringLiteral("key"), b64(recordKey(m_group))}};
    m_transport->post(QStringLiteral("/v3/kv/range"), request(body),
                      [this](const LockTransport::Answer &answer) { onRead(answer); });
}

void EtcdLock::onRead(const LockTransport::Answer &answer)
{
    if (!accept(answer))
        return;
    const QJsonArray kvs
            = QJsonDocument::fromJson(answer.body).object().value(QLatin1String("kvs")).toArray();
    if (kvs.isEmpty()) {
        if (m_op == Op::Release)
            succeed(); // no record, so nothing held
        else
            create();
        return;
    }
    const QJsonObject kv = kvs.first().toObject();
    const qint64 version = int64Of(kv.value(QLatin1String("version")));
    const QByteArray value
            = QByteArray::fromBase64(kv.value(QLatin1String("value")).toString().toLatin1());
    Record record = parseRecord(value);
    if (!record.valid) {
        // Someone else's data under our key: never overwrite it.
        fail(SERVER, QStringLiteral("%1: the semaphore record in etcd is not readable: %2")
                             .arg(m_group, shortText(value)));
        return;
    }
    const bool held = record.holders.contains(m_id);
    if (m_op == Op::Acquire) {
        if (held) {
            succeed();
            return;
        }
        if (record.holders.size() >= record.totalSlots) {
            fail(FULL, QStringLiteral("%1: %2 of %3 slots held")
                               .arg(m_group)
                               .arg(record.holders.size())
                               .arg(record.totalSlots));
            return;
        }
        record.holders.append(m_id);
    } else {
        if (!held) {
            succeed();
            return;
        }
        record.holders.removeAll(m_id);
    }
    write(version, recordText(record));
}

void EtcdLock::create()
{
    Record record;
    record.totalSlots = m_slots;
    write(0, recordText(record));
}

void EtcdLock::write(qint64 version, const QByteArray &value)
{
    const QString key = b64(recordKey(m_group));
    const QJsonObject compare {{QStringLiteral("key"), key},
                               {QStringLiteral("target"), QStringLiteral("VERSION")},
                               {QStringLiteral("result"), QStringLiteral("EQUAL")},
                               {QStringLiteral("version"), QString::number(version)}};
    const QJsonObject put {{QStringLiteral("key"), key}, {QStringLiteral("value"), b64(value)}};
    const QJsonObject body {
            {QStringLiteral("compare"), QJsonArray {compare}},
            {QStringLiteral("success"),
             QJsonArray {QJsonObject {{QStringLiteral("request_put"), put}}}},
    };
    const bool creating = version == 0;
    m_transport->post(QStringLiteral("/v3/kv/txn"), request(body),
                      [this, creating](const LockTransport::Answer &answer) {
                          if (!accept(answer))
                              return;
                          // A transaction whose compare failed has no
                          // "succeeded" field: the gateway leaves out falses.
                          const bool succeeded = QJsonDocument::fromJson(answer.body)
                                                         .object()
                                                         .value(QLatin1String("succeeded"))
                                                         .toBool();
                          if (succeeded && !creating) {
                              succeed();
                              return;
                          }
                          if (!succeeded && ++m_conflicts > MAX_CONFLICTS) {
                              fail(SERVER, QStringLiteral("%1: the semaphore record kept changing "
                                                          "under %2 attempts")
                                                   .arg(m_group)
                                                   .arg(MAX_CONFLICTS));
                              return;
                          }
                          // Created now or by another machine meanwhile, or
                          // changed since read: read it again.
                          read();
                      });
}

void EtcdLock::succeed()
{
    const QPointer<EtcdLock> self(this);
    m_running = false;
    if (m_op == Op::Acquire)
        Q_EMIT granted();
    else
        Q_EMIT released();
    if (self)
        startNext();
}

void EtcdLock::fail(const char *kind, const QString &why)
{
    const QPointer<EtcdLock> self(this);
    m_running = false;
    refuse(kind, why);
    if (self)
        startNext();
}
