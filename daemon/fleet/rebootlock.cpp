// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "rebootlock.h"

#include <QStringList>

namespace {
// The daemon's one thread is the only one that asks a lock anything.
RebootLock::Tally processTally;
} // namespace

RebootLock::~RebootLock() = default;

const QStringList &RebootLock::errorKinds()
{
    static const QStringList kinds {QLatin1String(FULL), QLatin1String(UNREACHABLE),
                                    QLatin1String(SERVER), QLatin1String(CONFIGURATION)};
    return kinds;
}

RebootLock::Tally RebootLock::tally()
{
    return processTally;
}

void RebootLock::countRequest(bool acquire)
{
    ++(acquire ? processTally.acquires : processTally.releases);
}

void RebootLock::refuse(const char *kind, const QString &why)
{
    ++processTally.errors[QLatin1String(kind)];
    Q_EMIT denied(why);
}
