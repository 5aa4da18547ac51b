// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatevalidatormanager.h"

#include "childprocess.h"
#include "logger.h"
#include "sysroot.h"
#include "trustedpath.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>

#include <utility>

namespace {
// The checks log under the name of the one operation that runs them.
constexpr char WHERE[] = "bool UpdateValidatorManager::check() const";
// Enough of a refusing validator's own words to tell why.
const int MAX_LOGGED_OUTPUT = 2000;
} // namespace

const char *const UpdateValidatorManager::VALIDATORS_DIR = "/etc/kirta-update-service/validators.d";

UpdateValidatorManager::UpdateValidatorManager(std::shared_ptr<Logger> logger,
                                               const QStringList &aptOptions)
    : m_logger(std::move(logger))
    , m_aptOptions(aptOptions)
{ }

void UpdateValidatorManager::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
}

bool UpdateValidatorManager::check() const
{
    const QDir dir(Sysroot::path(QLatin1String(VALIDATORS_DIR)));
    if (!dir.exists()) {
        debug(QStringLiteral("%1 does not exist, no validators to run").arg(dir.path()));
        return true;
    }
    // Run as root: only what root alone can change, the directory too.
    const QString untrustedDir = TrustedPath::whyUntrusted(dir.path());
    if (!untrustedDir.isEmpty()) {
        refuse(QStringLiteral("Skipping the validators in %1: not owned by root or writable by "
                              "group or others (%2)")
                       .arg(dir.path(), untrustedDir));
        return true;
    }
    const QFileInfoList entries = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isLeftover(entry.fileName())) {
            debug(QStringLiteral("Skipping validator %1: backup or package-manager leftover")
                          .arg(entry.fileName()));
            continue;
        }
        const QString untrusted = TrustedPath::whyUntrusted(entry.absoluteFilePath());
        if (!untrusted.isEmpty()) {
            refuse(QStringLiteral("Skipping validator %1: not owned by root or writable by "
                                  "group or others (%2)")
                           .arg(entry.fileName(), untrusted));
            continue;
        }
        if (!entry.isExecutable()) {
            debug(QStringLiteral("Skipping validator %1: not executable").arg(entry.fileName()));
            continue;
        }
        debug(QStringLiteral("Running validator %1").arg(entry.fileName()));
        const QString reason = runValidator(entry.absoluteFilePath());
        if (!reason.isEmpty()) {
            refuse(QStringLiteral("Validator %1 refused the update: %2")
                           .arg(entry.fileName(), reason));
            return false;
        }
    }
    return true;
}

QString UpdateValidatorManager::runValidator(const QString &path) const
{
    ChildProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProgram(path);
    process.setArguments(m_aptOptions);
    switch (process.run(m_timeoutMs, ChildProcess::Overrun::End, QIODevice::ReadOnly)) {
    case ChildProcess::Ending::FailedToStart:
        return QStringLiteral("cannot start: %1").arg(process.errorString());
    case ChildProcess::Ending::TimedOutTerminated:
    case ChildProcess::Ending::TimedOutKilled:
        return QStringLiteral("no answer within %1 ms, killed").arg(m_timeoutMs);
    default:
        break;
    }
    const QString output
            = QString::fromLocal8Bit(process.readAll()).trimmed().left(MAX_LOGGED_OUTPUT);
    const QString said = output.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(output);
    if (process.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("crashed%1").arg(said);
    if (process.exitCode() != 0)
        return QStringLiteral("exit code %1%2").arg(process.exitCode()).arg(said);
    return QString();
}

bool UpdateValidatorManager::isLeftover(const QString &name)
{
    // The names the stage program skips among its hooks too: editor backups
    // and the package manager's kept or new versions of a file.
    return name.endsWith(QLatin1Char('~')) || name.contains(QLatin1String(".dpkg-"))
           || name.contains(QLatin1String(".ucf-"));
}

void UpdateValidatorManager::debug(const QString &message) const
{
    if (m_logger)
        m_logger->debug(KIRTA_PLACE(WHERE), message);
    else
        qDebug().noquote() << message;
}

void UpdateValidatorManager::refuse(const QString &message) const
{
    if (m_logger)
        m_logger->warning(message);
    else
        qWarning().noquote() << message;
}
