// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"

#include <QFileSystemWatcher>

// The frozen copy itself is the arming part's; the facade keeps the watch on
// the configuration in step with it: an edit while frozen is no reload.

void Daemon::makeConfigCopy()
{
    const QString where = KIRTA_WHERE;
    const bool frozenAlready = m_arming->hasFrozenCopy();
    m_arming->freeze(where);
    if (!frozenAlready && m_configWatcher) {
        m_logger.debug(where, QStringLiteral("Remove original config from watcher"));
        m_configWatcher->removePath(SETTINGS_PATH);
    }
}

void Daemon::removeConfigCopyAndCheckOriginal()
{
    const QString where = KIRTA_WHERE;
    if (m_arming->thaw(where) == Arming::Thaw::NoCopy)
        return;
    if (m_configWatcher) {
        m_logger.debug(where, QStringLiteral("Set watcher to original config"));
        m_configWatcher->addPath(SETTINGS_PATH);
    }
}

void Daemon::removeConfigCopyAndOverriteOriginal()
{
    const QString where = KIRTA_WHERE;
    if (!m_arming->restore(where))
        return;
    if (m_configWatcher) {
        m_logger.debug(where, QStringLiteral("Add overrited config to watcher"));
        m_configWatcher->addPath(SETTINGS_PATH);
    }
}
