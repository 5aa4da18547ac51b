// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// JSON over HTTP(S) POST for the lock backends: bounded time per request,
// the next server when one does not answer, rounds repeated with a growing
// pause in between. Nothing of it exists between requests: the network
// manager is made for a request and dropped after it, so an idle lock owns
// no connection, no timer and no poll.
class LockTransport : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        // False when no server gave an HTTP answer; `error` says why.
        bool answered = false;
        int status = 0;
        QByteArray body;
        QString error;
        QUrl server;
    };
    using Done = std::function<void(const Answer &)>;

    struct Timing
    {
        int requestMs = 5000;
        // Rounds over all servers.
        int rounds = 3;
        // Pause before the second round; doubled before each further one.
        int firstPauseMs = 1000;
    };

    explicit LockTransport(const QList<QUrl> &servers, QObject *parent = nullptr);
    ~LockTransport() override;

    void setTiming(const Timing &timing);
    Timing timing() const;
    // Trusts the certificates in `path` besides the system's; false (and
    // `error`) when the file holds none.
    bool addCaFile(const QString &path, QString *error);
    void setHeader(const QByteArray &name, const QByteArray &value);
    // Answers of 500 and above count as "this server cannot serve now" and
    // move on to the next one, as for a cluster member without a quorum.
    void setRetryServerErrors(bool retry);

    QList<QUrl> servers() const;

    // `done` is called exactly once, later. One request at a time.
    void post(const QString &path, const QByteArray &json, const Done &done);
    bool busy() const;

private:
    void sendToCurrent();
    void onFinished();
    void onTimeout();
    void failCurrent(const QString &why);
    void finish(const Answer &answer);
    QUrl urlFor(const QUrl &server) const;

    QList<QUrl> m_servers;
    Timing m_timing;
    QSslConfiguration m_ssl;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    bool m_retryServerErrors = false;

    // The request in flight.
    QString m_path;
    QByteArray m_json;
    Done m_done;
    int m_server = 0; // where the next request starts: the last one that answered
    int m_triedInRound = 0;
    int m_round = 0;
    QString m_lastError;
    QNetworkAccessManager *m_manager = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer *m_timer = nullptr;
    bool m_busy = false;
};
