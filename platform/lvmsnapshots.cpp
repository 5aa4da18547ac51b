// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "lvmsnapshots.h"

#include "childprocess.h"
#include "sysroot.h"

#include <QLocale>
#include <QStringList>
#include <QVector>
#include <QtDebug>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
const char *const LVS = "/usr/sbin/lvs";
const int DEFAULT_TIMEOUT_MS = 30000;
const unsigned int FULL = 100;

std::atomic<int> timeoutMs {DEFAULT_TIMEOUT_MS};

struct Snapshot
{
    QString name; // "vg/lv"
    QString lvName;
    bool invalid = false;
    QString dataPercent;
};

// Fields in the order of the -o list.
enum Field { VgName, LvName, LvAttr, Origin, DataPercent, FieldCount };

bool listLogicalVolumes(QByteArray *output)
{
    const QString program = Sysroot::path(QLatin1String(LVS));
    ChildProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.setProgram(program);
    process.setArguments({QStringLiteral("--noheadings"), QStringLiteral("--separator"),
                          QStringLiteral("|"), QStringLiteral("-o"),
                          QStringLiteral("vg_name,lv_name,lv_attr,origin,data_percent")});
    const int bound = timeoutMs.load();
    if (process.run(bound, ChildProcess::Overrun::End, QIODevice::ReadOnly)
        != ChildProcess::Ending::Exited) {
        qWarning("%s %s", qPrintable(program), qPrintable(process.describe(bound)));
        return false;
    }
    if (process.exitCode() != 0) {
        qWarning("%s failed (exit code %d): %s", qPrintable(program), process.exitCode(),
                 process.readAllStandardError().trimmed().constData());
        return false;
    }
    *output = process.readAllStandardOutput();
    return true;
}

QVector<Snapshot> snapshots()
{
    QVector<Snapshot> found;
    QByteArray output;
    if (!listLogicalVolumes(&output))
        return found;
    for (const QString &line : QString::fromLocal8Bit(output).split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('|'));
        if (fields.size() != FieldCount)
            continue;
        const QString vg = fields.at(VgName).trimmed();
        const QString lv = fields.at(LvName).trimmed();
        const QString attr = fields.at(LvAttr).trimmed();
        if (vg.isEmpty() || lv.isEmpty())
            continue;
        const bool invalid = attr.startsWith(QLatin1Char('S'));
        if (!invalid && !attr.startsWith(QLatin1Char('s')) && fields.at(Origin).trimmed().isEmpty())
            continue;
        Snapshot snapshot;
        snapshot.name = vg + QLatin1Char('/') + lv;
        snapshot.lvName = lv;
        snapshot.invalid = invalid;
        snapshot.dataPercent = fields.at(DataPercent).trimmed();
        found.append(snapshot);
    }
    return found;
}

unsigned int percentOf(const Snapshot &snapshot)
{
    if (snapshot.invalid)
        return FULL;
    bool ok = false;
    const double value = QLocale::c().toDouble(snapshot.dataPercent, &ok);
    if (!ok || !(value > 0))
        return 0;
    return value >= FULL ? FULL : static_cast<unsigned int>(std::floor(value));
}
} // namespace

extern "C" {

char **existing_lvm_snapshots(void)
{
    const QVector<Snapshot> found = snapshots();
    if (found.isEmpty())
        return nullptr;
    auto **array = static_cast<char **>(std::calloc(size_t(found.size()) + 1, sizeof(char *)));
    if (!array)
        return nullptr;
    for (int i = 0; i < found.size(); ++i) {
        const QByteArray name = found.at(i).name.toLocal8Bit();
        array[i] = static_cast<char *>(std::malloc(size_t(name.size()) + 1));
        if (!array[i]) {
            free_existing_lvm_snapshots(array);
            return nullptr;
        }
        std::memcpy(array[i], name.constData(), size_t(name.size()) + 1);
    }
    return array;
}

unsigned int lvm_snapshot_filling_percent(const char *name)
{
    if (!name || !*name)
        return 0;
    const QString wanted = QString::fromLocal8Bit(name);
    const bool qualified = wanted.contains(QLatin1Char('/'));
    for (const Snapshot &snapshot : snapshots()) {
        if ((qualified ? snapshot.name : snapshot.lvName) == wanted)
            return percentOf(snapshot);
    }
    return 0;
}

void free_existing_lvm_snapshots(char **array)
{
    if (!array)
        return;
    for (char **entry = array; *entry; ++entry)
        std::free(*entry);
    std::free(array);
}

void set_lvm_query_timeout(int milliseconds)
{
    timeoutMs.store(milliseconds > 0 ? milliseconds : DEFAULT_TIMEOUT_MS);
}

} // extern "C"
