// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "restartmark.h"

#include "atomicwrite.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {
// When this boot began, from the kernel; invalid when unknown, and then no
// mark counts as older than the boot.
QDateTime bootTime()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly | QIODevice::Text))
        return QDateTime();
    // The kernel reports no size for its files: read until the end.
    const QList<QByteArray> lines = stat.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("btime ")) {
            bool ok = false;
            const qint64 seconds = line.mid(6).trimmed().toLongLong(&ok);
            return ok ? QDateTime::fromSecsSinceEpoch(seconds) : QDateTime();
        }
    }
    return QDateTime();
}
} // namespace

RestartMark::RestartMark(const QString &path)
    : m_path(path)
{ }

bool RestartMark::write(const QString &version, QString *error) const
{
    return writeFileAtomically(m_path, version.toUtf8() + '\n', error, 0644);
}

bool RestartMark::madeBeforeThisBoot(const QString &version) const
{
    QFile mark(m_path);
    if (!mark.open(QIODevice::ReadOnly))
        return false;
    if (QString::fromUtf8(mark.readAll()).trimmed() != version)
        return false;
    const QDateTime marked = QFileInfo(mark).lastModified();
    const QDateTime booted = bootTime();
    return marked.isValid() && booted.isValid() && marked < booted;
}

void RestartMark::remove() const
{
    QFile::remove(m_path);
}
