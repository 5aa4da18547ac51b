// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>
#include <QtGlobal>

// What /proc shows about another process of the same user: its memory, its
// scheduler counters and whether it is busy.
class ProcessProbe
{
public:
    struct Memory
    {
        bool ok = false;
        qint64 rssKb = 0;
        qint64 pssKb = 0;
        qint64 privateDirtyKb = 0;
        qint64 privateCleanKb = 0;
    };

    // Sums over the threads alive at the moment of reading: the kernel keeps
    // these counters per thread, and a thread that ends takes its counts
    // along, so the thread set is kept to tell whether two readings compare.
    struct Activity
    {
        bool ok = false;
        qint64 voluntarySwitches = 0;
        qint64 involuntarySwitches = 0;
        // utime + stime of the whole process, ended threads included.
        qint64 cpuTicks = 0;
        QSet<qint64> threads;
    };

    explicit ProcessProbe(qint64 pid);

    qint64 pid() const;
    bool isAlive() const;
    // From smaps_rollup.
    Memory memory() const;
    // Private_Dirty from smaps, summed by file and permissions ("[heap]",
    // "[stack]" and "anonymous" for the unnamed mappings), in the order of
    // their first mapping; mappings with none left out. A file's several
    // mappings with the same permissions share a row: only one of them
    // (the relocated read-only part of a program or library) is ever dirty.
    QVector<QPair<QString, qint64>> privateDirtyByMapping() const;
    Activity activity() const;
    // Processes started by any thread and not yet reaped.
    int childCount() const;

    static qint64 ticksPerSecond();

private:
    QString procPath(const QString &entry) const;
    qint64 cpuTicks() const;

    qint64 m_pid;
};
