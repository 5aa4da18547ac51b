// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemon.h"
#include "firstblock.h"
#include "systemdservice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

int Daemon::enableUpgradeOnReboot()
{
    const QString where = KIRTA_WHERE;
    int repeatedAnswer = 0;
    if (m_isRepeatedArm(&repeatedAnswer)) {
        m_logRepeat(m_repeatedArms, Logger::Info,
                    QStringLiteral("Arming asked for again while it is under way or done, "
                                   "nothing to do (answer %1)")
                            .arg(repeatedAnswer));
        return repeatedAnswer;
    }
    m_logger.info(QStringLiteral("Trying to enable update"));
    if (m_progress.task() != toInt(CurrentTask::DownloadCompleted)) {
        m_progress.setArmWhenComplete(true);
        m_logger.debug(where, QStringLiteral("m_task != CurrentTask::DownloadCompleted, "
                                             "upgradeMustBeEnabled, -10"));
        return toInt(ArmDeferred::UntilDownloaded);
    }
    if (!m_progress.value().firstBlockPassed) {
        m_logger.debug(where, QStringLiteral("first block not passed, -5"));
        m_firstBlock->schedule();
        return toInt(ArmDeferred::FirstBlockStarted);
    }
    execScriptsByScript(Stage::SecondBlock, SubStage::Before, Stage::FakeStage);
    const bool downloadTimerWasActive = m_clock->isDownloadDelayRunning();
    m_clock->stopDownloadDelay();
    m_check->stop();

    const Arming::Outcome<ArmLink> link = m_arming->placeLink(where);
    const int linkCode = toInt(link.code);
    m_logger.debug(where, QStringLiteral("current return code = %1").arg(linkCode));

    const Arming::Outcome<StampPart> stamp = m_arming->placeStamp(m_check->upgradable(), where);
    if (stamp.code == StampPart::Failed)
        m_logger.error(
                QStringLiteral("The upgrade stamp could not be written (%1)").arg(stamp.failure));
    const int stampCode = toInt(stamp.code);
    const int result = linkCode + stampCode;
    m_logger.debug(where, QStringLiteral("After stamp file: current return code = %1").arg(result));

    // Without the link the boot does no upgrade: never report one as armed.
    const bool linkInPlace = linkCode <= toInt(ArmLink::Replaced);
    if (linkInPlace) {
        m_progress.setArmed(true);
        if (m_progress.error() == toInt(ErrorNumber::ArmingFailed))
            m_progress.setError(ErrorNumber::None);
    } else {
        m_logger.error(
                QStringLiteral(
                        "The upgrade could not be armed: %1 is not a link to %2 (code %3; %4)")
                        .arg(SYS_UPDATE_SYMLINK, APTCACHE_POINT)
                        .arg(result)
                        .arg(link.failure));
        m_undoFailedArm(downloadTimerWasActive);
    }
    manageStatusFile();
    if (linkInPlace)
        execScriptsByScript(Stage::SecondBlock, SubStage::After, Stage::FakeStage);
    m_logger.debug(where, QStringLiteral("Final returncode = %1").arg(result));
    return result;
}

bool Daemon::m_isRepeatedArm(int *answer) const
{
    if (m_progress.task() != toInt(CurrentTask::DownloadCompleted)) {
        *answer = toInt(ArmDeferred::UntilDownloaded);
        return m_progress.value().armWhenComplete;
    }
    if (!m_progress.value().firstBlockPassed) {
        *answer = toInt(ArmDeferred::FirstBlockStarted);
        return m_firstBlock->isUnderWay();
    }
    // Armed and still in place on disk: hooks, link and stamp are done.
    *answer = toInt(ArmLink::Kept) + toInt(StampPart::AlreadySo);
    return m_progress.isArmed() && QFileInfo(SYS_UPDATE_SYMLINK).isSymLink()
           && QFileInfo::exists(SYS_UPDATE_SYMLINK) && m_arming->hasStamp();
}

bool Daemon::m_isNothingArmed() const
{
    return !m_progress.isArmed() && m_arming->isClearOnDisk();
}

void Daemon::m_logRepeat(LogThrottle &throttle, Logger::Level level, const QString &message) const
{
    int heldBack = 0;
    if (!throttle.pass(&heldBack))
        return;
    const QString line = heldBack == 0
                                 ? message
                                 : QStringLiteral("%1; %2 more such requests in the last minute")
                                           .arg(message)
                                           .arg(heldBack);
    if (level == Logger::Info)
        m_logger.info(line);
    else
        m_logger.debug(line);
}

void Daemon::m_undoFailedArm(bool downloadTimerWasActive)
{
    // Nothing is armed, so nothing of an armed upgrade may stay behind: the
    // cycle goes on as before the attempt, and clients can read why.
    m_progress.setArmed(false);
    m_progress.setError(ErrorNumber::ArmingFailed);
    m_arming->dropStamp();
    if (m_arming->hasFrozenCopy())
        removeConfigCopyAndCheckOriginal();
    m_check->start();
    if (downloadTimerWasActive)
        m_clock->startDownloadDelay();
}

int Daemon::disableUpgradeOnReboot(bool suppressForce)
{
    const QString where = KIRTA_WHERE;
    if (m_isNothingArmed()) {
        // Restarting the check timer here would let any caller put the
        // next check off for ever.
        m_logRepeat(m_repeatedDisarms, Logger::Debug,
                    QStringLiteral("Disarming asked for with nothing armed, nothing to do"));
        return toInt(DisarmLink::Absent) + toInt(StampPart::AlreadySo);
    }
    m_logger.debug(where);
    if (!suppressForce) {
        m_logger.debug(where, QStringLiteral("!suppressForce"));
        if (isUpgradeCanBeDisabled() == toInt(DisarmCheck::ForcedArmed)) {
            m_logger.debug(where, QStringLiteral("res != 0"));
            return toInt(DisarmCheck::ForcedArmed);
        }
    }
    // Read before the link goes: a name that cannot be removed matters only
    // when it is the link of an armed upgrade.
    const bool wasArmed = m_progress.isArmed() || isUpgradeAlreadySet();
    if (m_progress.isArmed()) {
        m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled"));
        execScriptsByScript(Stage::FirstBlock, SubStage::Before, Stage::SecondBlock);
    }

    const Arming::Outcome<DisarmLink> link = m_arming->removeLink(where);
    const int linkCode = toInt(link.code);

    if (link.code == DisarmLink::RemoveFailed && wasArmed) {
        // The link stays, so the boot will still upgrade: the upgrade stays
        // armed, with its stamp and frozen configuration.
        m_logger.error(QStringLiteral("%1 could not be removed, the upgrade stays armed (%2)")
                               .arg(SYS_UPDATE_SYMLINK, link.failure));
        manageStatusFile();
        return linkCode + toInt(m_arming->hasStamp() ? StampPart::Failed : StampPart::AlreadySo);
    }
    if (link.code == DisarmLink::RemoveFailed)
        m_logger.error(
                QStringLiteral("%1 could not be removed; no upgrade was armed through it (%2)")
                        .arg(SYS_UPDATE_SYMLINK, link.failure));

    removeConfigCopyAndCheckOriginal();
    const Arming::Outcome<StampPart> stamp = m_arming->removeStamp(where);
    if (stamp.code == StampPart::Failed)
        m_logger.error(
                QStringLiteral("The upgrade stamp could not be removed (%1)").arg(stamp.failure));
    const int stampCode = toInt(stamp.code);
    m_progress.setArmed(false);
    manageStatusFile();
    m_check->start();
    return linkCode + stampCode;
}

bool Daemon::isUpgradeOnRebootEnabled() const
{
    m_logger.debug(KIRTA_WHERE, QStringLiteral("%1 = %2")
                                        .arg(QStringLiteral("m_isUpgradeEnabled"))
                                        .arg(m_progress.isArmed() ? 1 : 0));
    return m_progress.isArmed();
}

bool Daemon::isUpgradeAlreadySet() const
{
    return m_arming->isArmedOnDisk(KIRTA_WHERE);
}

int Daemon::setUpdateSet()
{
    const int result = enableUpgradeOnReboot();
    m_logger.debug(KIRTA_WHERE, QStringLiteral("enableUpgradeOnReboot"), result);
    return result;
}

void Daemon::enableAndStartActivatingService() const
{
    m_logger.debug(KIRTA_WHERE);
    ZunAdmin::SystemdService service(QStringLiteral("kirta-activate-update"), &m_logger);
    service.enable();
    service.start();
}
