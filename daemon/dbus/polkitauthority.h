// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

// Decides whether the sender of a bus call may do an action: root always,
// anybody else only when polkit says so. Asks the bus for the sender's uid
// and polkit for the action without blocking the calling thread; the answer
// comes through `done` on the thread this object lives on. No answer, an
// error or no polkit at all counts as a refusal.
class PolkitAuthority : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(bool allowed)>;

    explicit PolkitAuthority(QObject *parent = nullptr);

    void check(const QDBusConnection &bus, const QString &sender, const QString &action, Done done);

private:
    void askPolkit(const QDBusConnection &bus, const QString &sender, const QString &action,
                   Done done);
};
