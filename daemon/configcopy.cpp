// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "atomicwrite.h"
#include "constants.h"
#include "daemon.h"
#include "filemove.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace {
// lstat-style: a dangling link still takes the name.
bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

static bool isConfigChanged()
{
    QFile original(SETTINGS_PATH);
    QFile copy(SETTINGS_COPY_PATH);
    if (!original.open(QIODevice::ReadOnly | QIODevice::Text)
        || !copy.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    return original.readAll() != copy.readAll();
}

void Daemon::makeConfigCopy()
{
    m_logger.debug(KIRTA_WHERE);
    if (QFile::exists(SETTINGS_COPY_PATH)) {
        m_logger.warning(QStringLiteral("Settings copy already exists"));
        return;
    }
    // Arming goes on without the copy, but the configuration is then not
    // frozen for the upgrade at boot: say so.
    // Synced: the boot after arming restores the configuration from it.
    QFile original(SETTINGS_PATH);
    if (!original.open(QIODevice::ReadOnly)
        || !writeFileAtomically(SETTINGS_COPY_PATH, original.readAll()))
        m_logger.error(
                QStringLiteral("Cannot copy %1 to %2").arg(SETTINGS_PATH, SETTINGS_COPY_PATH));
    m_logger.info(QStringLiteral("Create config copy"));
    if (m_configWatcher) {
        m_logger.debug(KIRTA_WHERE, QStringLiteral("Remove original config from watcher"));
        m_configWatcher->removePath(SETTINGS_PATH);
    }
}

void Daemon::removeConfigCopyAndCheckOriginal()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!QFile::exists(SETTINGS_COPY_PATH)) {
        m_logger.warning(QStringLiteral("settings copy does not exist"));
        return;
    }
    if (isConfigChanged()) {
        m_logger.info(QStringLiteral("original config has changed. Reset imitation."));
        m_progress.setFirstBlockPassed(false);
        reloadSettings();
    }
    QFile::remove(SETTINGS_COPY_PATH);
    m_logger.info(QStringLiteral("Remove config copy"));
    if (m_configWatcher) {
        m_logger.debug(where, QStringLiteral("Set watcher to original config"));
        m_configWatcher->addPath(SETTINGS_PATH);
    }
}

void Daemon::removeConfigCopyAndOverriteOriginal()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    if (!QFile::exists(SETTINGS_COPY_PATH)) {
        m_logger.warning(QStringLiteral("Settings copy does not exist"));
        return;
    }
    QString reason;
    if (!nameTaken(SETTINGS_PATH)) {
        // An earlier restore was cut off between its two moves: the copy is
        // all that is left of the configuration.
        if (moveFileNoReplace(SETTINGS_COPY_PATH, SETTINGS_PATH, &reason))
            m_logger.info(QStringLiteral("Configuration file was missing, restored it from %1")
                                  .arg(SETTINGS_COPY_PATH));
        else {
            m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_COPY_PATH, SETTINGS_PATH )"));
            m_logger.debug(where, reason);
        }
    } else {
        // The parking place lies in a world-writable directory: the move
        // fails rather than replace or write through what is there.
        if (!moveFileNoReplace(SETTINGS_PATH, SETTINGS_TEMP_PATH, &reason)) {
            m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_PATH, tempConfigName"));
            m_logger.debug(where, reason);
            return;
        }
        if (!moveFileNoReplace(SETTINGS_COPY_PATH, SETTINGS_PATH, &reason)) {
            moveFileNoReplace(SETTINGS_TEMP_PATH, SETTINGS_PATH);
            m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_COPY_PATH, SETTINGS_PATH )"));
            m_logger.debug(where, reason);
            return;
        }
        QFile::remove(SETTINGS_TEMP_PATH);
        m_logger.debug(where, QStringLiteral("Removing /tmp/kirta-update-daemon.conf"));
    }
    if (m_configWatcher) {
        m_logger.debug(where, QStringLiteral("Add overrited config to watcher"));
        m_configWatcher->addPath(SETTINGS_PATH);
    }
}
