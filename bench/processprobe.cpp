// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "processprobe.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>

#include <unistd.h>

namespace {
QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    // /proc files report size 0: read until the end, not size() bytes.
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The number of a "Key:   1234 kB" line, or -1.
qint64 fieldValue(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(key + ':'))
            continue;
        const QList<QByteArray> words = line.mid(key.size() + 1).simplified().split(' ');
        bool ok = false;
        const qint64 value = words.value(0).toLongLong(&ok);
        return ok ? value : -1;
    }
    return -1;
}
} // namespace

ProcessProbe::ProcessProbe(qint64 pid)
    : m_pid(pid)
{ }

qint64 ProcessProbe::pid() const
{
    return m_pid;
}

QString ProcessProbe::procPath(const QString &entry) const
{
    return QStringLiteral("/proc/%1/%2").arg(m_pid).arg(entry);
}

bool ProcessProbe::isAlive() const
{
    // A zombie keeps its /proc entry but no memory map.
    const QByteArray status = readProcFile(procPath(QStringLiteral("status")));
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith("State:"))
            return !line.contains("zombie") && !line.contains("dead");
    }
    return false;
}

ProcessProbe::Memory ProcessProbe::memory() const
{
    Memory memory;
    const QByteArray rollup = readProcFile(procPath(QStringLiteral("smaps_rollup")));
    memory.rssKb = fieldValue(rollup, "Rss");
    memory.pssKb = fieldValue(rollup, "Pss");
    memory.privateDirtyKb = fieldValue(rollup, "Private_Dirty");
    memory.privateCleanKb = fieldValue(rollup, "Private_Clean");
    memory.ok = memory.rssKb >= 0 && memory.privateDirtyKb >= 0;
    return memory;
}

QVector<QPair<QString, qint64>> ProcessProbe::privateDirtyByMapping() const
{
    QVector<QPair<QString, qint64>> rows;
    QString current;
    for (const QByteArray &line : readProcFile(procPath(QStringLiteral("smaps"))).split('\n')) {
        // A mapping's header: "start-end perms offset dev inode [path]"; its
        // fields follow as "Key: value kB".
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 5 && words.at(0).contains('-') && !words.at(0).endsWith(':')) {
            const QString path = words.size() > 5 ? QString::fromUtf8(words.at(5)) : QString();
            const QString name = path.isEmpty() ? QStringLiteral("anonymous")
                                                : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            current = name + QLatin1Char(' ') + QString::fromLatin1(words.at(1));
            continue;
        }
        if (current.isEmpty() || !line.startsWith("Private_Dirty:"))
            continue;
        const qint64 kb = fieldValue(line, "Private_Dirty");
        if (kb <= 0)
            continue;
        auto row = std::find_if(rows.begin(), rows.end(), [&](const QPair<QString, qint64> &r) {
            return r.first == current;
        });
        if (row == rows.end())
            rows.append({current, kb});
        else
            row->second += kb;
    }
    return rows;
}

qint64 ProcessProbe::cpuTicks() const
{
    const QByteArray stat = readProcFile(procPath(QStringLiteral("stat")));
    // The command name may hold blanks and parentheses: count fields from
    // the last ')'. utime and stime are fields 14 and 15 of the line.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields.at(11).toLongLong() + fields.at(12).toLongLong();
}

ProcessProbe::Activity ProcessProbe::activity() const
{
    Activity activity;
    const QStringList tids
            = QDir(procPath(QStringLiteral("task"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        const QByteArray status = readProcFile(procPath(QStringLiteral("task/%1/status").arg(tid)));
        const qint64 voluntary = fieldValue(status, "voluntary_ctxt_switches");
        const qint64 involuntary = fieldValue(status, "nonvoluntary_ctxt_switches");
        if (voluntary < 0 || involuntary < 0)
            continue; // ended while we listed the directory
        activity.voluntarySwitches += voluntary;
        activity.involuntarySwitches += involuntary;
        activity.threads.insert(tid.toLongLong());
    }
    activity.cpuTicks = cpuTicks();
    activity.ok = !activity.threads.isEmpty() && activity.cpuTicks >= 0;
    return activity;
}

int ProcessProbe::childCount() const
{
    int count = 0;
    const QStringList tids
            = QDir(procPath(QStringLiteral("task"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        const QByteArray children
                = readProcFile(procPath(QStringLiteral("task/%1/children").arg(tid))).simplified();
        if (!children.isEmpty())
            count += children.count(' ') + 1;
    }
    return count;
}

qint64 ProcessProbe::ticksPerSecond()
{
    const long ticks = sysconf(_SC_CLK_TCK);
    return ticks > 0 ? ticks : 100;
}
