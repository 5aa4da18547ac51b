// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QList>
#include <QObject>

class Logger;

// Frees the package archive lock when the daemon's own work holds it: finds
// the holder with lsof and sends its process group SIGTERM. A holder the
// daemon did not start (an administrator's apt run, another updater) is
// logged and left alone. Made without a parent and used once.
class AptKiller : public QObject
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    // `logger` is not owned and may be null. `ownGroups`: the process
    // groups and sessions of the runs the daemon started; a holder in one
    // of them, or descending from a process in one, is the daemon's own.
    AptKiller(Logger *logger, const QList<qint64> &ownGroups);

    // Emits cleanCache() when the daemon's own holder has been sent
    // SIGTERM; logs and emits nothing otherwise. The holder is not waited
    // for.
    void killApt();

    // The wait limit of lsof.
    void setTimeoutMs(int ms);
    int timeoutMs() const;

Q_SIGNALS:
    void cleanCache();

private:
    // The holder's process id, or -1.
    int m_getPid();
    bool m_isOwn(qint64 pid) const;

    Logger *m_logger;
    QList<qint64> m_ownGroups;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};
