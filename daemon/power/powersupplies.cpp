// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "powersupplies.h"

#include <QDir>
#include <QFile>

namespace {
QString attribute(const QDir &supply, const char *name)
{
    QFile file(supply.filePath(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // sysfs attributes are one short line; a bound keeps a stray large file
    // in a fake tree from being read whole.
    return QString::fromLatin1(file.read(64)).trimmed();
}
} // namespace

PowerSupplies::PowerSupplies(const QString &classDir)
    : m_classDir(classDir)
{ }

PowerSupplies::Reading PowerSupplies::read() const
{
    Reading reading;
    bool mainsOnline = false;
    bool discharging = false;
    int lowest = 100;
    const QDir dir(m_classDir);
    // The class holds links to the devices.
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir supply(dir.filePath(name));
        if (attribute(supply, "scope") == QLatin1String("Device"))
            continue;
        const QString type = attribute(supply, "type");
        if (type == QLatin1String("Mains") || type.startsWith(QLatin1String("USB"))) {
            mainsOnline = mainsOnline || attribute(supply, "online") == QLatin1String("1");
        } else if (type == QLatin1String("Battery")
                   && attribute(supply, "status") == QLatin1String("Discharging")) {
            bool ok = false;
            const int capacity = attribute(supply, "capacity").toInt(&ok);
            // A battery whose level is unknown is left out, as at the install
            // boot.
            if (!ok || capacity < 0 || capacity > 100)
                continue;
            discharging = true;
            lowest = qMin(lowest, capacity);
        }
    }
    if (discharging && !mainsOnline) {
        reading.onBattery = true;
        reading.percent = lowest;
    }
    return reading;
}
