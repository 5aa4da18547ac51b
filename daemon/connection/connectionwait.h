// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>
#include <QString>

class QTimer;

// Whether the network is up, and the wait for it while it is not: owns the
// probe (ping of "Host_to_ping") and the timer that repeats it.
class ConnectionWait : public QObject
{
    Q_OBJECT

public:
    // `pingProgram` is run as "PROGRAM HOST -c3 -i0.2 -W2".
    explicit ConnectionWait(const QString &pingProgram, QObject *parent = nullptr);

    // One probe, bounded in time; true when the host answered.
    bool probe(const QString &host) const;

    bool hasRetryTimer() const { return m_retry != nullptr; }
    bool isWaiting() const;
    // Repeats the probe every few seconds from now on (retryDue), unless
    // that already happens.
    void begin();
    void end();

    // Null until the first wait: for whole-daemon tests that read it.
    QTimer *retryTimer() const { return m_retry; }

    // Three probes 0.2 s apart; without any answer ping waits 2 s more, so a
    // slow link (satellite, mobile) still answers in time.
    static constexpr int PING_WAIT_MSEC = 5000;
    // While there is no connection the probe is repeated every 5 s, so that
    // a returning network is used at once; each probe is bounded above.
    static constexpr int RETRY_MSEC = 5000;

Q_SIGNALS:
    void retryDue();

private:
    QString m_pingProgram;
    QTimer *m_retry = nullptr;
};
