// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// What the check after an upgrade boot found, as the daemon publishes it.
struct HealthStatus
{
    // "none" (no upgrade boot since this start), "checking", "healthy" or
    // "unhealthy".
    QString result = QStringLiteral("none");
    // Why it is unhealthy, one line each ("unit foo.service failed").
    QStringList reasons;
    // When the result was reached; invalid while none.
    QDateTime checked;

    bool operator==(const HealthStatus &other) const
    {
        return result == other.result && reasons == other.reasons && checked == other.checked;
    }
    bool operator!=(const HealthStatus &other) const { return !(*this == other); }
};
