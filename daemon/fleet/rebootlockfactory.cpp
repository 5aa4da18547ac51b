// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "rebootlockfactory.h"

#include "etcdlock.h"
#include "fleetidentity.h"
#include "fleetlockclient.h"

#include <QUrl>

namespace {

bool parseUrl(const QString &text, QUrl *url, QString *error)
{
    const QUrl parsed(text.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        *error = QStringLiteral("\"%1\" is not an http:// or https:// URL").arg(text.trimmed());
        return false;
    }
    *url = parsed;
    return true;
}

} // namespace

namespace RebootLockFactory {

RebootLock *create(const Params &params, QObject *parent, QString *error)
{
    QString why;
    const QString kind = params.reboot_lock.second.trimmed().toLower();
    if (kind.isEmpty() || kind == QLatin1String("none")) {
        if (error)
            error->clear();
        return nullptr;
    }
    auto refuse = [error](const QString &text) -> RebootLock * {
        if (error)
            *error = text;
        return nullptr;
    };
    if (kind != QLatin1String("etcd") && kind != QLatin1String("fleetlock"))
        return refuse(QStringLiteral("Reboot_lock=%1 is none of none, etcd, fleetlock")
                              .arg(params.reboot_lock.second));

    const QString group = params.reboot_lock_group.second.trimmed();
    if (!FleetIdentity::isValidGroup(group))
        return refuse(
                QStringLiteral("Reboot_lock_group=\"%1\" must match ^[a-zA-Z0-9.-]+$").arg(group));

    QString id = params.reboot_lock_id.second.trimmed();
    if (id.isEmpty()) {
        id = FleetIdentity::machineLockId(&why);
        if (id.isEmpty())
            return refuse(QStringLiteral("no lock id: %1").arg(why));
    }

    QList<QUrl> servers;
    const QStringList texts
            = params.reboot_lock_servers.second.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &text : texts) {
        if (text.trimmed().isEmpty())
            continue;
        QUrl url;
        if (!parseUrl(text, &url, &why))
            return refuse(QStringLiteral("Reboot_lock_servers: %1").arg(why));
        servers.append(url);
    }
    if (servers.isEmpty())
        return refuse(QStringLiteral("Reboot_lock=%1 needs Reboot_lock_servers").arg(kind));

    RebootLock *lock = nullptr;
    LockTransport *transport = nullptr;
    if (kind == QLatin1String("fleetlock")) {
        if (servers.size() != 1)
            return refuse(QStringLiteral("Reboot_lock=fleetlock takes one server URL"));
        auto *client = new FleetLockClient(servers.first(), group, id, parent);
        transport = client->transport();
        lock = client;
    } else {
        const int slotCount = params.reboot_lock_slots.second;
        if (slotCount < 1)
            return refuse(QStringLiteral("Reboot_lock_slots=%1 must be 1 or more").arg(slotCount));
        auto *etcd = new EtcdLock(servers, group, id, slotCount, parent);
        const QString user = params.reboot_lock_user.second.trimmed();
        if (!user.isEmpty())
            etcd->setCredentials(user, params.reboot_lock_password_file.second.trimmed());
        transport = etcd->transport();
        lock = etcd;
    }
    const QString caFile = params.reboot_lock_ca_file.second.trimmed();
    if (!caFile.isEmpty() && !transport->addCaFile(caFile, &why)) {
        delete lock;
        return refuse(QStringLiteral("Reboot_lock_ca_file: %1").arg(why));
    }
    if (error)
        error->clear();
    return lock;
}

} // namespace RebootLockFactory
