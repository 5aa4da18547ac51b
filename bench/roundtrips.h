// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

// Times blocking calls of one object's methods, each paired with an
// org.freedesktop.DBus.Peer.Ping to the same connection. The Ping is
// answered by the D-Bus library inside the daemon before any of the
// daemon's code runs, so it is the floor that bus, client library and
// kernel put under every call; the two alternate so both meet the same
// conditions.
class RoundTrips
{
public:
    struct Percentiles
    {
        double medianUs = 0;
        double p90Us = 0;
        double p99Us = 0;
    };

    struct Result
    {
        QString method;
        // Empty when every call was answered.
        QString error;
        // What the method answered on its last call.
        QVariant answer;
        QVector<qint64> callNs;
        QVector<qint64> pingNs;
    };

    RoundTrips(const QDBusConnection &bus, const QString &service, const QString &path,
               const QString &interface, int timeoutMs = 5000);

    // `warmUp` untimed pairs, then `count` timed ones.
    Result measure(const QString &method, int warmUp, int count) const;
    // Timed pairs going through `methods` in turn for as long as `more`
    // says so; `method` of the result names them all.
    Result measureWhile(const QStringList &methods, const std::function<bool()> &more) const;
    // One untimed Ping: empty when answered, the error otherwise.
    QString ping() const;

    // Nearest-rank percentiles of nanosecond samples, in microseconds.
    static Percentiles percentiles(QVector<qint64> samplesNs);

private:
    QString m_service;
    QString m_path;
    QString m_interface;
    int m_timeoutMs;
    QDBusConnection m_bus;
};
