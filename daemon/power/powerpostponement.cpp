// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "powerpostponement.h"

#include "constants.h"
#include "statussnapshot.h"

#include <QFile>
#include <QFileInfo>

PowerPostponement::PowerPostponement(QObject *parent)
    : QObject(parent)
    , m_logger(LOG_FILE_PATH, Logger::Info)
{ }

void PowerPostponement::takeOver()
{
    QFile mark(POWER_POSTPONED_MARK_PATH);
    if (!mark.open(QIODevice::ReadOnly))
        return;
    const QString reason = QString::fromUtf8(mark.read(4096)).trimmed().section('\n', 0, 0);
    mark.close();
    // Only an upgrade that is still frozen as it was armed is armed again.
    if (!QFile::exists(SETTINGS_COPY_PATH)) {
        m_logger.warning(QStringLiteral("The install boot waited for power, but the upgrade is "
                                        "no longer frozen: not arming it again"));
        QFile::remove(POWER_POSTPONED_MARK_PATH);
        return;
    }
    const QFileInfo link(SYS_UPDATE_SYMLINK);
    if (!link.exists() && !link.isSymLink() && !QFile::link(APTCACHE_POINT, SYS_UPDATE_SYMLINK)) {
        m_logger.error(QStringLiteral("Cannot link %1 again after the install boot waited for "
                                      "power")
                               .arg(SYS_UPDATE_SYMLINK));
        return;
    }
    if (!QFile::exists(UPGRADE_STAMP_PATH)) {
        QFile stamp(UPGRADE_STAMP_PATH);
        if (stamp.open(QIODevice::WriteOnly))
            stamp.close();
    }
    m_reason = reason.isEmpty() ? QStringLiteral("not enough power") : reason;
    m_logger.warning(QStringLiteral("Upgrade postponed for power at the install boot (%1); "
                                    "armed again for the next restart")
                             .arg(m_reason));
    Q_EMIT reasonChanged(m_reason);
}

void PowerPostponement::follow(const StatusSnapshot &snapshot)
{
    if (!m_reason.isEmpty() && !snapshot.armed)
        m_drop();
}

void PowerPostponement::m_drop()
{
    QFile::remove(POWER_POSTPONED_MARK_PATH);
    m_reason.clear();
    Q_EMIT reasonChanged(m_reason);
}
