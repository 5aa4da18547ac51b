// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "arming.h"

#include "atomicwrite.h"
#include "constants.h"
#include "filemove.h"
#include "logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {
// lstat-style: a dangling link still takes the name.
bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool sameContent(const QString &first, const QString &second)
{
    QFile a(first);
    QFile b(second);
    if (!a.open(QIODevice::ReadOnly | QIODevice::Text)
        || !b.open(QIODevice::ReadOnly | QIODevice::Text))
        return true;
    return a.readAll() == b.readAll();
}
} // namespace

Arming::Paths Arming::Paths::system()
{
    return {SYS_UPDATE_SYMLINK, APTCACHE_POINT,     UPGRADE_STAMP_PATH, SETTINGS_PATH,
            SETTINGS_COPY_PATH, SETTINGS_TEMP_PATH, STATUS_FILE_PATH};
}

Arming::Arming(const Logger &logger, Paths paths, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_paths(std::move(paths))
{ }

Arming::Outcome<ArmLink> Arming::placeLink(const QString &where)
{
    Outcome<ArmLink> outcome {ArmLink::Created, QString()};
    QFile link(m_paths.linkTarget);
    const QFileInfo symFile(m_paths.link);
    if (!symFile.exists()) {
        m_logger.debug(where, QStringLiteral("symFile.exists() return false"));
        if (link.link(m_paths.link)) {
            m_logger.debug(
                    where,
                    QStringLiteral("QFile::link(APTCACHE_POINT, SYS_UPDATE_SYMLINK) return true"));
        } else {
            m_logger.debug(
                    where,
                    QStringLiteral("QFile::link(APTCACHE_POINT, SYS_UPDATE_SYMLINK) return false"));
            outcome = {ArmLink::CreateFailed, stepFailure(m_paths.link, link.errorString())};
        }
        return outcome;
    }
    m_logger.debug(where, QStringLiteral("symFile.exists() return true"));
    if (symFile.isSymLink()) {
        m_logger.debug(where, QStringLiteral("symFile.isSymbolicLink() return true"));
        return {ArmLink::Kept, QString()};
    }
    m_logger.debug(where, QStringLiteral("symFile.isSymbolicLink() return false"));
    // A file in the way goes; a directory stays (it may hold anything).
    QFile inTheWay(symFile.absoluteFilePath());
    if (!inTheWay.remove()) {
        m_logger.debug(where, QStringLiteral("dir.remove(SYS_UPDATE_SYMLINK) return false"));
        return {ArmLink::RemoveFailed, stepFailure(m_paths.link, inTheWay.errorString())};
    }
    m_logger.debug(where, QStringLiteral("dir.remove(SYS_UPDATE_SYMLINK) return true"));
    if (link.link(m_paths.link)) {
        m_logger.debug(
                where,
                QStringLiteral("File::link(APTCACHE_POINT, SYS_UPDATE_SYMLINK) return true"));
        return {ArmLink::Replaced, QString()};
    }
    m_logger.debug(where,
                   QStringLiteral("File::link(APTCACHE_POINT, SYS_UPDATE_SYMLINK) return false"));
    return {ArmLink::ReplaceFailed, stepFailure(m_paths.link, link.errorString())};
}

Arming::Outcome<StampPart> Arming::placeStamp(const QStringList &listing, const QString &where)
{
    QFile stampFile(m_paths.stamp);
    if (stampFile.exists()) {
        m_logger.debug(where, QStringLiteral("stampFile.exists() return true"));
        return {StampPart::AlreadySo, QString()};
    }
    m_logger.debug(where, QStringLiteral("stampFile.exists() return false"));
    if (!stampFile.open(QIODevice::ReadWrite)) {
        m_logger.debug(where, QStringLiteral("sstampFile.open(QIODevice::ReadWrite) return false"));
        return {StampPart::Failed, stepFailure(m_paths.stamp, stampFile.errorString())};
    }
    stampFile.write(listing.join(QLatin1Char('\n')).toUtf8());
    stampFile.close();
    m_logger.debug(where, QStringLiteral("sstampFile.open(QIODevice::ReadWrite) return true"));
    return {StampPart::Changed, QString()};
}

Arming::Outcome<DisarmLink> Arming::removeLink(const QString &where)
{
    const QFileInfo symFile(m_paths.link);
    if (!symFile.exists()) {
        m_logger.debug(where, QStringLiteral("symFile.exists() return false"));
        return {DisarmLink::Absent, QString()};
    }
    m_logger.debug(where, QStringLiteral("symFile.exists() return true"));
    // unlink: the link itself, never what it points to.
    QFile link(symFile.absoluteFilePath());
    if (link.remove()) {
        m_logger.debug(where, QStringLiteral("dir.remove(SYS_UPDATE_SYMLINK) return true"));
        return {DisarmLink::Removed, QString()};
    }
    m_logger.debug(where, QStringLiteral("dir.remove(SYS_UPDATE_SYMLINK) return false"));
    return {DisarmLink::RemoveFailed, stepFailure(m_paths.link, link.errorString())};
}

Arming::Outcome<StampPart> Arming::removeStamp(const QString &where)
{
    QFile stampFile(m_paths.stamp);
    if (!stampFile.exists()) {
        m_logger.debug(where, QStringLiteral("stampFile.exists() return false"));
        return {StampPart::AlreadySo, QString()};
    }
    m_logger.debug(where, QStringLiteral("stampFile.exists() return true"));
    if (stampFile.remove())
        return {StampPart::Changed, QString()};
    m_logger.debug(where, QStringLiteral("stampFile.remove() return false"));
    return {StampPart::Failed, stepFailure(m_paths.stamp, stampFile.errorString())};
}

void Arming::dropStamp()
{
    QFile::remove(m_paths.stamp);
}

bool Arming::isArmedOnDisk(const QString &where) const
{
    const QFileInfo symFile(m_paths.link);
    if (!symFile.exists()) {
        m_logger.debug(where, QStringLiteral("!symFile.exists()"));
        return false;
    }
    if (!symFile.isSymLink()) {
        m_logger.debug(where, QStringLiteral("!symFile.isSymbolicLink()"));
        return false;
    }
    if (QFile::exists(m_paths.stamp)) {
        m_logger.debug(where, QStringLiteral("true"));
        return true;
    }
    m_logger.debug(where, QStringLiteral("!stampFile.exists() "));
    return false;
}

bool Arming::isClearOnDisk() const
{
    return !nameTaken(m_paths.link) && !QFile::exists(m_paths.stamp)
           && !QFile::exists(m_paths.settingsCopy);
}

bool Arming::hasFrozenCopy() const
{
    return QFile::exists(m_paths.settingsCopy);
}

bool Arming::hasStamp() const
{
    return QFile::exists(m_paths.stamp);
}

QString Arming::freeze(const QString &where)
{
    m_logger.debug(where);
    if (QFile::exists(m_paths.settingsCopy)) {
        m_logger.warning(QStringLiteral("Settings copy already exists"));
        return QString();
    }
    // Synced: the boot after arming restores the configuration from it.
    QFile original(m_paths.settings);
    QString reason;
    if (!original.open(QIODevice::ReadOnly))
        reason = stepFailure(m_paths.settings, original.errorString());
    else if (!writeFileAtomically(m_paths.settingsCopy, original.readAll(), &reason))
        reason = stepFailure(m_paths.settingsCopy, reason);
    // Arming goes on without the copy, but the configuration is then not
    // frozen for the upgrade at boot: say so.
    if (!reason.isEmpty())
        m_logger.error(QStringLiteral("Cannot copy %1 to %2 (%3)")
                               .arg(m_paths.settings, m_paths.settingsCopy, reason));
    m_logger.info(QStringLiteral("Create config copy"));
    return reason;
}

Arming::Thaw Arming::thaw(const QString &where)
{
    m_logger.debug(where);
    if (!QFile::exists(m_paths.settingsCopy)) {
        m_logger.warning(QStringLiteral("settings copy does not exist"));
        return Thaw::NoCopy;
    }
    const bool changed = !sameContent(m_paths.settings, m_paths.settingsCopy);
    if (changed) {
        m_logger.info(QStringLiteral("original config has changed. Reset imitation."));
        emit originalChanged();
    }
    QFile::remove(m_paths.settingsCopy);
    m_logger.info(QStringLiteral("Remove config copy"));
    return changed ? Thaw::RemovedChanged : Thaw::Removed;
}

bool Arming::restore(const QString &where)
{
    m_logger.debug(where);
    if (!QFile::exists(m_paths.settingsCopy)) {
        m_logger.warning(QStringLiteral("Settings copy does not exist"));
        return false;
    }
    QString reason;
    if (!nameTaken(m_paths.settings)) {
        // An earlier restore was cut off between its two moves: the copy is
        // all that is left of the configuration.
        if (moveFileNoReplace(m_paths.settingsCopy, m_paths.settings, &reason)) {
            m_logger.info(QStringLiteral("Configuration file was missing, restored it from %1")
                                  .arg(m_paths.settingsCopy));
        } else {
            m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_COPY_PATH, SETTINGS_PATH )"));
            m_logger.debug(where, reason);
        }
        return true;
    }
    // The parking place lies in a world-writable directory: the move fails
    // rather than replace or write through what is there.
    if (!moveFileNoReplace(m_paths.settings, m_paths.settingsParking, &reason)) {
        m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_PATH, tempConfigName"));
        m_logger.debug(where, reason);
        return false;
    }
    if (!moveFileNoReplace(m_paths.settingsCopy, m_paths.settings, &reason)) {
        moveFileNoReplace(m_paths.settingsParking, m_paths.settings);
        m_logger.error(QStringLiteral("!QFile::rename( SETTINGS_COPY_PATH, SETTINGS_PATH )"));
        m_logger.debug(where, reason);
        return false;
    }
    QFile::remove(m_paths.settingsParking);
    m_logger.debug(where, QStringLiteral("Removing /tmp/kirta-update-daemon.conf"));
    return true;
}

QString Arming::writeStatus(bool downloadComplete, bool armed, const QString &targetRelease,
                            const QString &where)
{
    m_logger.debug(where);
    QFile statusFile(m_paths.status);
    if (!downloadComplete) {
        m_logger.debug(where, QStringLiteral("m_task != CurrentTask::DownloadCompleted"));
        if (statusFile.exists()) {
            m_logger.debug(where, QStringLiteral("statusFile.exists() return true"));
            if (!statusFile.remove()) {
                // The activation tool would go on offering an upgrade.
                const QString why = stepFailure(m_paths.status, statusFile.errorString());
                m_logger.error(QStringLiteral("Cannot remove status file %1").arg(why));
                return why;
            }
        }
        return QString();
    }
    m_logger.debug(where, QStringLiteral("m_task == CurrentTask::DownloadCompleted"));
    if (!statusFile.exists()) {
        m_logger.debug(where, QStringLiteral("!statusFile.exists()"));
        if (statusFile.open(QIODevice::ReadWrite)) {
            m_logger.debug(where,
                           QStringLiteral("! statusFile.open(QIODevice::ReadWrite) return true"));
            statusFile.close();
        }
    }
    QString value;
    if (armed) {
        m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = true"));
        value = QStringLiteral("activated");
    } else {
        m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = false"));
        value = QStringLiteral("ready");
    }
    QSettings status(m_paths.status, QSettings::NativeFormat);
    status.setValue(STATUS_KEY, value);
    if (!targetRelease.isEmpty()) {
        m_logger.debug(where, QStringLiteral("m_availUpdateVersion.isEmpty() return false"));
        status.setValue(TARGET_RELEASE_KEY, targetRelease);
    } else {
        m_logger.debug(where, QStringLiteral("m_availUpdateVersion.isEmpty() return true"));
    }
    // A full or read-only state directory must not pass unnoticed: the
    // activation tool learns of the pending upgrade from this file alone.
    status.sync();
    if (status.status() == QSettings::NoError)
        return QString();
    m_logger.error(
            QStringLiteral("Cannot write status file %1 (status=%2)").arg(m_paths.status, value));
    return stepFailure(m_paths.status, status.status() == QSettings::AccessError
                                               ? QStringLiteral("not writable")
                                               : QStringLiteral("not written"));
}
