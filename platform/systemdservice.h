// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>
#include <QVariantList>

class Logger;

namespace ZunAdmin {

// One systemd unit, driven through the service manager's D-Bus API on the
// system bus (org.freedesktop.systemd1 at /org/freedesktop/systemd1,
// interface org.freedesktop.systemd1.Manager).
//
// A unit name without a known type suffix (".service", ".timer", ...) gets
// ".service". enable() and disable() change the unit's install links
// (EnableUnitFiles with runtime=false, force=true; DisableUnitFiles with
// runtime=false) and then ask the manager to Reload() so the change takes
// effect; start() queues a StartUnit job in "replace" mode and does not wait
// for the job. Each call blocks for at most the time-out; an error reply, no
// bus, no manager or no answer in time gives false and one warning (to the
// logger, or qWarning without one).
class SystemdService
{
public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    explicit SystemdService(const QString &unitName, const Logger *logger = nullptr);

    QString unitName() const;
    void setTimeout(int milliseconds);

    bool enable();
    bool start();
    bool disable();

private:
    bool callManager(const QString &method, const QVariantList &arguments) const;
    void warn(const QString &message) const;

    QString m_unitName;
    const Logger *m_logger;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};

} // namespace ZunAdmin
