// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "processtestbed.h"

#include "daemonprocess.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>

QString ProcessTestBed::configPath()
{
    return QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
}

bool ProcessTestBed::fail(const QString &error)
{
    m_error = error;
    return false;
}

bool ProcessTestBed::start()
{
    if (!m_tree.isValid())
        return fail(QStringLiteral("KIRTA_SYSROOT must name an absolute directory"));
    if (!QFileInfo(DaemonProcess::defaultProgram()).isExecutable())
        return fail(DaemonProcess::defaultProgram() + QStringLiteral(" is not executable"));
    if (!m_bus.start())
        return fail(m_bus.errorString());
    // The first systemBus() use: it must find the private bus.
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no system bus: ") + bus.lastError().message());
    if (!m_bus.address().startsWith(QLatin1String("unix:")))
        return fail(QStringLiteral("the private bus is not a unix socket: ") + m_bus.address());
    return true;
}

bool ProcessTestBed::resetTree(const QString &configuration)
{
    if (!m_tree.reset())
        return fail(QStringLiteral("cannot reset ") + m_tree.root());
    if (!m_tree.installDaemonStandIns())
        return fail(QStringLiteral("cannot install the stand-ins in ") + m_tree.root());
    if (!m_tree.writeFile(configPath(), configuration))
        return fail(QStringLiteral("cannot write ") + configPath());
    return true;
}
