// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

// Waits until the daemon's bus answers getCurrentStateAsInt with a number
// other than -1 ("unknown", which "error" shares).
//
// The daemon writes what its first check found to the log a moment before
// its bus thread publishes the state that follows, and its name is on the
// bus long before either: a test that reads the state after the name or such
// a line would race the publication. Error replies (the object is exported
// after the name is taken) and replies that are not one int count as "not
// yet". A daemon whose first check ends in "error" never passes this wait.
class StateWait
{
public:
    explicit StateWait(const QDBusConnection &connection = QDBusConnection::systemBus());

    // Asks until the answer has left -1 or `timeoutMs` have passed; no call
    // waits much beyond that time. True when it has left.
    bool leftUnknown(int timeoutMs);

    // The number the daemon answered last, -1 before any number.
    int state() const { return m_state; }
    // Why leftUnknown() returned false: the time it waited and every answer
    // it got, in order, a run of equal answers once with its count.
    QString failure() const;

private:
    // One call; true when it answered a number other than -1.
    bool ask(int callTimeoutMs);
    void note(const QString &answer);

    QDBusConnection m_connection;
    int m_state = -1;
    int m_timeoutMs = 0;
    QStringList m_answers;
    QList<int> m_repeats;
};

// Fails the current test, naming every answer seen, when the daemon's state
// on `connection` does not leave "unknown" within `timeoutMs`.
#define KIRTA_WAIT_LEFT_UNKNOWN(connection, timeoutMs) \
    do { \
        StateWait kirtaStateWait {connection}; \
        const bool kirtaStateLeft = kirtaStateWait.leftUnknown(timeoutMs); \
        QVERIFY2(kirtaStateLeft, qPrintable(kirtaStateWait.failure())); \
    } while (false)
