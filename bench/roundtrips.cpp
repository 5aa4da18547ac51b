// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "roundtrips.h"

#include <QDBusMessage>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
const QString PEER_INTERFACE = QStringLiteral("org.freedesktop.DBus.Peer");

// Nanoseconds the call took; -1 and `error` filled when it failed.
qint64 timedCall(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs,
                 QString *error, QVariant *answer)
{
    const auto start = std::chrono::steady_clock::now();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    const auto end = std::chrono::steady_clock::now();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("%1: %2 %3")
                         .arg(call.member(), reply.errorName(), reply.errorMessage());
        return -1;
    }
    if (answer)
        *answer = reply.arguments().value(0);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
}

// One timed pair, pair number `i`: which of the two goes first alternates,
// so neither always follows the other's wake-up. False when a call failed
// (`result.error` says why); the times are kept when `keep`.
bool timedPair(const QDBusConnection &bus, const QDBusMessage &call, const QDBusMessage &ping,
               int i, int timeoutMs, bool keep, RoundTrips::Result &result)
{
    const bool callFirst = i % 2 == 0;
    qint64 callNs = -1;
    qint64 pingNs = -1;
    if (callFirst)
        callNs = timedCall(bus, call, timeoutMs, &result.error, &result.answer);
    if (result.error.isEmpty())
        pingNs = timedCall(bus, ping, timeoutMs, &result.error, nullptr);
    if (!callFirst && result.error.isEmpty())
        callNs = timedCall(bus, call, timeoutMs, &result.error, &result.answer);
    if (!result.error.isEmpty())
        return false;
    if (keep) {
        result.callNs.append(callNs);
        result.pingNs.append(pingNs);
    }
    return true;
}
} // namespace

RoundTrips::RoundTrips(const QDBusConnection &bus, const QString &service, const QString &path,
                       const QString &interface, int timeoutMs)
    : m_service(service)
    , m_path(path)
    , m_interface(interface)
    , m_timeoutMs(timeoutMs)
    , m_bus(bus)
{ }

QString RoundTrips::ping() const
{
    QString error;
    const QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, PEER_INTERFACE,
                                                             QStringLiteral("Ping"));
    timedCall(m_bus, call, m_timeoutMs, &error, nullptr);
    return error;
}

RoundTrips::Result RoundTrips::measure(const QString &method, int warmUp, int count) const
{
    Result result;
    result.method = method;
    result.callNs.reserve(count);
    result.pingNs.reserve(count);
    const QDBusMessage call
            = QDBusMessage::createMethodCall(m_service, m_path, m_interface, method);
    const QDBusMessage ping = QDBusMessage::createMethodCall(m_service, m_path, PEER_INTERFACE,
                                                             QStringLiteral("Ping"));

    for (int i = 0; i < warmUp + count; ++i) {
        if (!timedPair(m_bus, call, ping, i, m_timeoutMs, i >= warmUp, result))
            break;
    }
    return result;
}

RoundTrips::Result RoundTrips::measureWhile(const QStringList &methods,
                                            const std::function<bool()> &more) const
{
    Result result;
    result.method = methods.join(QLatin1String(", "));
    const QDBusMessage ping = QDBusMessage::createMethodCall(m_service, m_path, PEER_INTERFACE,
                                                             QStringLiteral("Ping"));
    for (int i = 0; more(); ++i) {
        const QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, m_interface,
                                                                 methods.at(i % methods.size()));
        if (!timedPair(m_bus, call, ping, i, m_timeoutMs, true, result))
            break;
    }
    return result;
}

RoundTrips::Percentiles RoundTrips::percentiles(QVector<qint64> samplesNs)
{
    Percentiles result;
    if (samplesNs.isEmpty())
        return result;
    std::sort(samplesNs.begin(), samplesNs.end());
    const auto rank = [&samplesNs](double fraction) {
        const int n = samplesNs.size();
        const int index = std::clamp(int(std::ceil(fraction * n)) - 1, 0, n - 1);
        return samplesNs.at(index) / 1000.0;
    };
    result.medianUs = rank(0.5);
    result.p90Us = rank(0.9);
    result.p99Us = rank(0.99);
    return result;
}
