// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "processinfo.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

ProcessInfo ProcessInfo::of(qint64 pid)
{
    ProcessInfo info;
    if (pid <= 0)
        return info;
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    QFile stat(dir + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return info;
    const QByteArray text = stat.readAll();
    // The name in parentheses may hold spaces and parentheses itself: the
    // fields start after the last closing one.
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return info;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // state ppid pgrp session ... starttime is the 20th after the name.
    if (fields.size() < 20 || fields.at(0).isEmpty())
        return info;
    bool ok = true;
    bool fieldOk = false;
    info.parent = fields.at(1).toLongLong(&fieldOk);
    ok = ok && fieldOk;
    info.group = fields.at(2).toLongLong(&fieldOk);
    ok = ok && fieldOk;
    info.session = fields.at(3).toLongLong(&fieldOk);
    ok = ok && fieldOk;
    info.startTime = fields.at(19).toULongLong(&fieldOk);
    ok = ok && fieldOk;
    const QFileInfo owner(dir);
    if (!ok || !owner.exists())
        return ProcessInfo();
    info.state = fields.at(0).at(0);
    info.owner = owner.ownerId();
    info.exists = true;
    return info;
}

bool ProcessInfo::groupAlive(qint64 group)
{
    if (group <= 0)
        return false;
    const QStringList pids
            = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid)
            continue;
        const ProcessInfo info = of(pid);
        if (info.group == group && info.isAlive())
            return true;
    }
    return false;
}
