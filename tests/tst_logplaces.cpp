// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logger.h"

#include <QtTest>

// Every place the daemon's log lines can name. Administrators' log filters
// and support notes key on these texts, so a refactor that moves a line to
// another function, renames one or builds with another compiler must change
// this list knowingly. The set comes from the program's recorded
// places (KIRTA_WHERE, KIRTA_PLACE), not from lines written by a run, so
// paths no test takes are pinned as well.

namespace {
const QStringList EXPECTED {
        "QDateTime TriggerChecker::m_getDateTimeFromTrigger() const",
        "QString Daemon::loadSettings(bool)",
        "bool Daemon::areThereNewPackages()",
        "bool Daemon::checkConnection()",
        "bool Daemon::isRetryTimeStampSetAndPassed() const",
        "bool Daemon::isTEndSetAndPassed() const",
        "bool Daemon::isUpgradeAlreadySet() const",
        "bool Daemon::isUpgradeOnRebootEnabled() const",
        "bool Daemon::ping()",
        "bool Script::m_exitCodeToBool(int)",
        "bool SpaceChecker::check()",
        "bool UpdateValidatorManager::check() const",
        "const QString Daemon::getCurrentStateAsString() const",
        "const QString Daemon::getMinorUpdateVersion() const",
        "const QString Daemon::getStateAsString() const",
        "const QString Daemon::getUpdateDateAsString() const",
        "const QStringList Daemon::getArgsForRepos(int)",
        "const QStringList Daemon::getUpgradableList()",
        "int AptKiller::m_getPid()",
        "int Daemon::checkUpdatesByScript()",
        "int Daemon::cleanCacheByScript()",
        "int Daemon::disableUpgradeOnReboot(bool)",
        "int Daemon::downloadUpdatesByScript()",
        "int Daemon::enableUpgradeOnReboot()",
        "int Daemon::execScriptsByScript(Stage, SubStage, Stage)",
        "int Daemon::fillMinorUpdateVersion()",
        "int Daemon::getCurrentErrorAsInt() const",
        "int Daemon::getCurrentStateAsInt() const",
        "int Daemon::getDownloadResult()",
        "int Daemon::getImitationResult(int)",
        "int Daemon::getMajorReportMode() const",
        "int Daemon::isUpgradeCanBeDisabled()",
        "int Daemon::removeUpgradeResultStamp(int) const",
        "int Daemon::setForcedMode()",
        "int Daemon::setReady()",
        "int Daemon::setStateFromOutside(int)",
        "int Daemon::setUpdateSet()",
        "void Daemon::actualizeSnapshotStamp(bool)",
        "void Daemon::areWeAfterMinorUpgrade()",
        "void Daemon::checkDownloadIsFinished()",
        "void Daemon::checkMajorReport()",
        "void Daemon::checkRetryTimeStamp()",
        "void Daemon::checkTimeEnd()",
        "void Daemon::checkUpdates()",
        "void Daemon::checkisMajorUpdateInstalled()",
        "void Daemon::cleanSourceDir()",
        "void Daemon::doActionOnError()",
        "void Daemon::doResetAction()",
        "void Daemon::doRetryAction()",
        "void Daemon::doStopAction()",
        "void Daemon::enableAndStartActivatingService() const",
        "void Daemon::makeConfigCopy()",
        "void Daemon::manageReposPolicyFile()",
        "void Daemon::manageStatusFile()",
        "void Daemon::parseExtraRepos(const QString&)",
        "void Daemon::reloadSettings()",
        "void Daemon::removeConfigCopyAndCheckOriginal()",
        "void Daemon::removeConfigCopyAndOverriteOriginal()",
        "void Daemon::resetRetryTimeStamp()",
        "void Daemon::restartTaskByConnection()",
        "void Daemon::setDownloadTimerInterval()",
        "void Daemon::setNoUpdates(bool, bool, bool)",
        "void Daemon::setTask(CurrentTask)",
        "void Daemon::start()",
        "void Daemon::startDownloadTimer()",
        "void Daemon::startEndRetryTimer()",
        "void Daemon::startTEndTimer()",
        "void Daemon::tryToCreateAppDirs()",
        "void Daemon::tryToRestartMinorUpdate()",
};
} // namespace

class TestLogPlaces : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyPlaceIsPinned()
    {
        const QStringList actual = Logger::places();
        QStringList expected = EXPECTED;
        expected.sort();
        QStringList missing;
        for (const QString &place : expected) {
            if (!actual.contains(place))
                missing << place;
        }
        QStringList unexpected;
        for (const QString &place : actual) {
            if (!expected.contains(place))
                unexpected << place;
        }
        for (const QString &place : missing)
            qWarning().noquote() << "no longer written:" << place;
        for (const QString &place : unexpected)
            qWarning().noquote() << "new place:" << place;
        QVERIFY2(missing.isEmpty() && unexpected.isEmpty(),
                 qPrintable(QStringLiteral("%1 places no longer written, %2 new (listed above)")
                                    .arg(missing.size())
                                    .arg(unexpected.size())));
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestLogPlaces)
#include "tst_logplaces.moc"
