// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "locktransport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QTimer>

namespace {
// Error texts from servers end up in the status; keep them readable.
const int MAX_QUOTED_BODY = 200;

QString quoted(const QByteArray &body)
{
    QString text = QString::fromUtf8(body).simplified();
    if (text.size() > MAX_QUOTED_BODY)
        text = text.left(MAX_QUOTED_BODY) + QStringLiteral("…");
    return text;
}
} // namespace

LockTransport::LockTransport(const QList<QUrl> &servers, QObject *parent)
    : QObject(parent)
    , m_servers(servers)
    , m_ssl(QSslConfiguration::defaultConfiguration())
{ }

LockTransport::~LockTransport() = default;

void LockTransport::setTiming(const Timing &timing)
{
    m_timing = timing;
    m_timing.rounds = qMax(1, m_timing.rounds);
    m_timing.requestMs = qMax(1, m_timing.requestMs);
    m_timing.firstPauseMs = qMax(0, m_timing.firstPauseMs);
}

LockTransport::Timing LockTransport::timing() const
{
    return m_timing;
}

bool LockTransport::addCaFile(const QString &path, QString *error)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 holds no PEM certificate").arg(path);
        return false;
    }
    QList<QSslCertificate> trusted = m_ssl.caCertificates();
    trusted += certificates;
    m_ssl.setCaCertificates(trusted);
    return true;
}

void LockTransport::setHeader(const QByteArray &name, const QByteArray &value)
{
    for (auto &header : m_headers) {
        if (header.first == name) {
            header.second = value;
            return;
        }
    }
    m_headers.append({name, value});
}

void LockTransport::setRetryServerErrors(bool retry)
{
    m_retryServerErrors = retry;
}

QList<QUrl> LockTransport::servers() const
{
    return m_servers;
}

bool LockTransport::busy() const
{
    return m_busy;
}

void LockTransport::post(const QString &path, const QByteArray &json, const Done &done)
{
    Q_ASSERT(!m_busy);
    m_path = path;
    m_json = json;
    m_done = done;
    m_busy = true;
    m_round = 0;
    m_triedInRound = 0;
    m_lastError.clear();
    if (m_servers.isEmpty()) {
        Answer answer;
        answer.error = QStringLiteral("no server configured");
        QTimer::singleShot(0, this, [this, answer]() { finish(answer); });
        return;
    }
    m_server = m_server % m_servers.size();
    m_manager = new QNetworkAccessManager(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    sendToCurrent();
}

QUrl LockTransport::urlFor(const QUrl &server) const
{
    QUrl url = server;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + m_path);
    return url;
}

void LockTransport::sendToCurrent()
{
    const QUrl url = urlFor(m_servers.at(m_server));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    for (const auto &header : qAsConst(m_headers))
        request.setRawHeader(header.first, header.second);
    if (url.scheme() == QLatin1String("https"))
        request.setSslConfiguration(m_ssl);
    m_reply = m_manager->post(request, m_json);
    connect(m_reply, &QNetworkReply::finished, this, &LockTransport::onFinished);
    m_timer->disconnect();
    connect(m_timer, &QTimer::timeout, this, &LockTransport::onTimeout);
    m_timer->start(m_timing.requestMs);
}

void LockTransport::onTimeout()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    failCurrent(QStringLiteral("no answer within %1 ms").arg(m_timing.requestMs));
}

void LockTransport::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_reply = nullptr;
    m_timer->stop();
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        failCurrent(reply->errorString());
        return;
    }
    Answer answer;
    answer.answered = true;
    answer.status = status.toInt();
    answer.body = reply->readAll();
    answer.server = m_servers.at(m_server);
    if (m_retryServerErrors && answer.status >= 500) {
        failCurrent(QStringLiteral("answered %1: %2").arg(answer.status).arg(quoted(answer.body)));
        return;
    }
    finish(answer);
}

void LockTransport::failCurrent(const QString &why)
{
    m_lastError = QStringLiteral("%1 %2").arg(m_servers.at(m_server).toDisplayString(), why);
    m_server = (m_server + 1) % m_servers.size();
    if (++m_triedInRound < m_servers.size()) {
        sendToCurrent();
        return;
    }
    if (++m_round >= m_timing.rounds) {
        Answer answer;
        answer.error = m_lastError;
        finish(answer);
        return;
    }
    m_triedInRound = 0;
    const qint64 pause = qint64(m_timing.firstPauseMs) << qMin(m_round - 1, 16);
    m_timer->disconnect();
    connect(m_timer, &QTimer::timeout, this, &LockTransport::sendToCurrent);
    m_timer->start(int(qMin<qint64>(pause, 10 * 60 * 1000)));
}

void LockTransport::finish(const Answer &answer)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    if (m_manager) {
        m_manager->deleteLater();
        m_manager = nullptr;
    }
    m_busy = false;
    const Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(answer);
}
