// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusAbstractAdaptor>

// Base of the generated adaptors. The bus library lets clients set any
// writable property of an adaptor, inherited ones included, so QObject's
// objectName is shadowed by a read-only one: nothing on the daemon's object
// is the clients' to change. The generated adaptors carry the introspection
// data of their interface files, so the shadow is not listed.
class ReadOnlyAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_PROPERTY(QString objectName READ objectName)

public:
    using QDBusAbstractAdaptor::QDBusAbstractAdaptor;
};
