// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "majorrelease.h"

#include "constants.h"
#include "logger.h"
#include "packagemanager.h"
#include "updatestate.h"

#include <QFile>
#include <QTimer>

using KirtaUpdateState::UpdateState;

MajorRelease::MajorRelease(const Logger &logger, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_installedCheck(new QTimer(this))
{
    m_installedCheck->setInterval(INSTALLED_CHECK_MSEC);
    connect(m_installedCheck, &QTimer::timeout, this, &MajorRelease::installationCheckDue);
}

void MajorRelease::watchInstallation()
{
    m_installedCheck->start();
}

bool MajorRelease::isWatchingInstallation() const
{
    return m_installedCheck->isActive();
}

bool MajorRelease::followInstallation(const QString &where)
{
    if (ZunAdmin::PackageManager(&m_logger).isPackageInstalled(MAJOR_UPGRADE_PACKAGE,
                                                               QStringLiteral("ii\\s%1"))) {
        m_logger.debug(where, QStringLiteral("kirta-upgrade is installed"));
        if (!m_reportCheck) {
            m_reportCheck = new QTimer(this);
            connect(m_reportCheck, &QTimer::timeout, this, &MajorRelease::reportCheckDue);
            m_reportCheck->setInterval(REPORT_CHECK_MSEC);
        }
        // A running watch keeps its phase: the first read comes 10 s after
        // the tool appeared, not at each minute's question.
        if (!m_reportCheck->isActive())
            m_reportCheck->start();
        return true;
    }
    m_logger.debug(where, QStringLiteral("kirta-upgrade is not installed"));
    // Made once the tool was first seen (its log line says so since then,
    // whether the watch still runs or not).
    if (m_reportCheck) {
        m_logger.debug(where, QStringLiteral("m_checkMajorReportTimer != nullptr"));
        m_reportCheck->stop();
    }
    return false;
}

bool MajorRelease::isWatchingReport() const
{
    return m_reportCheck && m_reportCheck->isActive();
}

bool MajorRelease::hasReport() const
{
    return QFile::exists(MAJOR_REPORT_PATH);
}

StepOutcome<MajorReportMode> MajorRelease::readReport(const QString &where) const
{
    if (!hasReport())
        return {MajorReportMode::Unreadable, QString()};
    const int state = UpdateState::checkMajorUpdateState();
    if (!UpdateState::isMajorUpdateStateDefined()) {
        m_logger.debug(where, QStringLiteral("key 'upgrade_mode' is not found"));
        QFile report(MAJOR_REPORT_PATH);
        const QString reason = report.open(QIODevice::ReadOnly)
                                       ? QStringLiteral("no integer upgrade_mode in a mapping")
                                       : report.errorString();
        return {MajorReportMode::Unreadable, stepFailure(MAJOR_REPORT_PATH, reason)};
    }
    if (state == toInt(MajorToolMode::Prepared))
        return {MajorReportMode::Prepared, QString()};
    if (UpdateState::isMajorUpdateForced())
        return {MajorReportMode::Forced, QString()};
    if (state == toInt(MajorToolMode::Armed))
        return {MajorReportMode::Armed, QString()};
    return {MajorReportMode::NothingPending, QString()};
}
