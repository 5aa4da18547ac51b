// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

// One entry of the a(sss) change lists that systemd's manager answers
// EnableUnitFiles and DisableUnitFiles with; for fake managers in tests.
struct UnitFileChange
{
    QString type;
    QString file;
    QString destination;
};
Q_DECLARE_METATYPE(UnitFileChange)
Q_DECLARE_METATYPE(QList<UnitFileChange>)

inline QDBusArgument &operator<<(QDBusArgument &argument, const UnitFileChange &change)
{
    argument.beginStructure();
    argument << change.type << change.file << change.destination;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, UnitFileChange &change)
{
    argument.beginStructure();
    argument >> change.type >> change.file >> change.destination;
    argument.endStructure();
    return argument;
}
