// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"

#include <QObject>
#include <QString>

struct StatusSnapshot;

// The install boot that found too little power left a mark and the
// upgrade's files (plan, stamp, frozen configuration) but took the link.
// Before the daemon starts, this part links the same upgrade again, so the
// daemon's start finds it armed; the reason stays in the status while the
// upgrade is armed.
class PowerPostponement : public QObject
{
    Q_OBJECT

public:
    explicit PowerPostponement(QObject *parent = nullptr);

    // Before Daemon::start().
    void takeOver();
    // Once the daemon has started: a disarmed upgrade is no longer
    // postponed.
    void follow(const StatusSnapshot &snapshot);
    QString reason() const { return m_reason; }

Q_SIGNALS:
    void reasonChanged(const QString &reason);

private:
    void m_drop();

    Logger m_logger;
    QString m_reason;
};
