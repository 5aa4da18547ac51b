// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// The kernel's power_supply class, read the way the offline upgrade reads it
// at the install boot: the machine runs on battery when one of its own
// batteries (not a mouse's or a phone's: scope Device) is discharging and no
// mains or USB supply is online. Asked where no power daemon answers on the
// bus; were the two to judge differently, a restart the daemon starts would
// meet an install boot that refuses for power, boot after boot.
class PowerSupplies
{
public:
    struct Reading
    {
        bool onBattery = false;
        // The lowest charge of the discharging batteries.
        int percent = 100;
    };

    explicit PowerSupplies(const QString &classDir);

    Reading read() const;

private:
    QString m_classDir;
};
