// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "fleetidentity.h"

#include "sysroot.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>

namespace {

const char *const MACHINE_ID_PATH = "/etc/machine-id";
const int ID_BYTES = 16;

bool parseId(const QByteArray &text, QByteArray *bytes)
{
    const QByteArray hex = text.trimmed();
    static const QRegularExpression form(QStringLiteral("^[0-9a-fA-F]{32}$"));
    if (!form.match(QString::fromLatin1(hex)).hasMatch())
        return false;
    *bytes = QByteArray::fromHex(hex);
    return bytes->size() == ID_BYTES;
}

} // namespace

namespace FleetIdentity {

QString appSpecificId(const QByteArray &machineId, const QByteArray &appId, QString *error)
{
    QByteArray machine;
    QByteArray app;
    if (!parseId(machineId, &machine)) {
        if (error)
            *error = QStringLiteral("the machine id \"%1\" is not 32 hex digits")
                             .arg(QString::fromLatin1(machineId.trimmed().left(64)));
        return QString();
    }
    if (!parseId(appId, &app)) {
        if (error)
            *error = QStringLiteral("the application id is not 32 hex digits");
        return QString();
    }
    QByteArray id = QMessageAuthenticationCode::hash(app, machine, QCryptographicHash::Sha256)
                            .left(ID_BYTES);
    id[6] = char((quint8(id.at(6)) & 0x0F) | 0x40);
    id[8] = char((quint8(id.at(8)) & 0x3F) | 0x80);
    return QString::fromLatin1(id.toHex());
}

QString machineLockId(QString *error)
{
    QFile file(Sysroot::path(QLatin1String(MACHINE_ID_PATH)));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2")
                             .arg(QLatin1String(MACHINE_ID_PATH), file.errorString());
        return QString();
    }
    // The file is 33 bytes; anything much longer is not a machine id.
    const QByteArray text = file.read(256);
    QString why;
    const QString id = appSpecificId(text, QByteArray(APP_ID), &why);
    if (id.isEmpty() && error)
        *error = QStringLiteral("%1: %2").arg(QLatin1String(MACHINE_ID_PATH), why);
    return id;
}

bool isValidGroup(const QString &group)
{
    static const QRegularExpression form(QStringLiteral("^[a-zA-Z0-9.-]+$"));
    return form.match(group).hasMatch();
}

} // namespace FleetIdentity
