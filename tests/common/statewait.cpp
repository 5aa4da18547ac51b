// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "statewait.h"

#include "buscontract.h"
#include "waituntil.h"

#include <QDBusMessage>
#include <QDeadlineTimer>

namespace {
// Enough for one round trip on a loaded machine; the last call, made at the
// deadline, may run over it by this much.
const int MIN_CALL_TIMEOUT_MS = 200;

QString describe(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage)
        return QStringLiteral("error %1: %2").arg(reply.errorName(), reply.errorMessage());
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("no reply");
    QStringList values;
    for (const QVariant &value : reply.arguments())
        values << value.toString();
    return QStringLiteral("reply %1: %2").arg(reply.signature(), values.join(QLatin1Char(',')));
}
} // namespace

StateWait::StateWait(const QDBusConnection &connection)
    : m_connection(connection)
{ }

bool StateWait::leftUnknown(int timeoutMs)
{
    m_timeoutMs = timeoutMs;
    const QDeadlineTimer deadline(timeoutMs);
    return waitUntil(
            [&] { return ask(int(qMax<qint64>(deadline.remainingTime(), MIN_CALL_TIMEOUT_MS))); },
            timeoutMs);
}

bool StateWait::ask(int callTimeoutMs)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(BusContract::SERVICE), QLatin1String(BusContract::PATH),
            QLatin1String(BusContract::INTERFACE), QStringLiteral("getCurrentStateAsInt"));
    const QDBusMessage reply = m_connection.call(call, QDBus::Block, callTimeoutMs);
    // A text or a bool would convert to a number; only the contract's int counts.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("i")) {
        note(describe(reply));
        return false;
    }
    m_state = reply.arguments().constFirst().toInt();
    note(QString::number(m_state));
    return m_state != toInt(StateNumber::Undefined);
}

void StateWait::note(const QString &answer)
{
    if (!m_answers.isEmpty() && m_answers.constLast() == answer) {
        ++m_repeats.last();
        return;
    }
    m_answers << answer;
    m_repeats << 1;
}

QString StateWait::failure() const
{
    QStringList seen;
    // Joined, not arg()ed: an error's text may hold "%1".
    for (int i = 0; i < m_answers.size(); ++i)
        seen << (m_repeats.at(i) == 1
                         ? m_answers.at(i)
                         : m_answers.at(i) + QStringLiteral(" (") + QString::number(m_repeats.at(i))
                                   + QStringLiteral(" times)"));
    return QStringLiteral("getCurrentStateAsInt did not leave -1 (\"unknown\") within %1 ms; "
                          "answers, in order: %2")
            .arg(m_timeoutMs)
            .arg(seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
}
