// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "daemonclient.h"
#include "publishedstatus.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTextStream>

// The administrator's command: one run of `kirta-update-ctl COMMAND ...`.
class UpdateCtl : public QObject
{
    Q_OBJECT
public:
    enum ExitCode { Done = 0, Failed = 1, Usage = 2, NotRunning = 3 };

    UpdateCtl(QTextStream &out, QTextStream &err, QObject *parent = nullptr);

    // Runs the command named first in `arguments` (program name excluded)
    // and answers the exit code.
    int run(const QStringList &arguments);

    static QString usage();

private:
    int status(bool json);
    int watch(bool json);
    int arm(int timeoutSeconds);
    int disarm();
    int clearResult();
    int postponeRestart();
    int cancelRestart();
    int releaseLock();

    int usageError(const QString &message);
    // Exit code for a call the daemon did not answer.
    int callFailed(const QString &what, const QDBusError &error);
    bool readStatus(PublishedStatus *status);
    int waitUntilArmed(const PublishedStatus &before, int timeoutSeconds);
    void printChanges(const QStringList &changed, const PublishedStatus &status, bool json);

    // What watch last printed for each property.
    QHash<QString, QString> m_shown;
    QTextStream &m_out;
    QTextStream &m_err;
    DaemonClient m_daemon;
};
