// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "atomicwrite.h"
#include "constants.h"
#include "daemon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

void Daemon::parseExtraRepos(const QString &extraRepos)
{
    const QString where = KIRTA_WHERE;
    m_extraRepos.clear();
    cleanSourceDir();

    const QStringList repos = extraRepos.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (repos.isEmpty()) {
        m_logger.debug(where, QStringLiteral("repos.isEmpty()"));
        return;
    }
    for (const QString &piece : repos) {
        const QString repo = piece.simplified();
        // A piece of blanks only names no file; QFile would test the
        // working directory for it.
        if (repo.isEmpty() || !QFileInfo(repo).isFile() || m_extraRepos.contains(repo))
            continue;
        // Its sources are installed from as root: only root may change it.
        const QFileInfo info(repo);
        if (info.ownerId() != ::geteuid()
            || (info.permissions() & (QFile::WriteGroup | QFile::WriteOther))) {
            m_logger.warning(QStringLiteral("Extra repository list %1 refused: not owned by root "
                                            "or writable by group or others")
                                     .arg(repo));
            continue;
        }
        m_extraRepos.append(repo);
    }
    for (const QString &repo : qAsConst(m_extraRepos)) {
        m_logger.debug(where, QStringLiteral("repo = ") + repo);
        QFile::copy(repo, SOURCES_DIR + QLatin1Char('/') + QFileInfo(repo).fileName());
    }
}

void Daemon::cleanSourceDir()
{
    const QString where = KIRTA_WHERE;
    m_logger.debug(where);
    QDir dir(SOURCES_DIR);
    if (dir.exists()) {
        m_logger.debug(where, QStringLiteral("dir exists"));
        dir.removeRecursively();
    }
    dir.mkdir(SOURCES_DIR);
}

const QStringList Daemon::getArgsForRepos(int policy)
{
    m_logger.debug(KIRTA_WHERE, QStringLiteral("repospolicy"), policy);
    const QString option = QStringLiteral("-o");
    switch (policy) {
    case toInt(ReposPolicy::MainListOnly):
        return {option, QStringLiteral("Dir::Etc::sourceparts=''")};
    case toInt(ReposPolicy::ExtraOnly):
        return {option, QStringLiteral("Dir::Etc::sourceparts=") + SOURCES_DIR, option,
                QStringLiteral("Dir::Etc::sourcelist=''")};
    case toInt(ReposPolicy::MainAndExtra):
        return {option, QStringLiteral("Dir::Etc::sourceparts=") + SOURCES_DIR};
    default:
        return {};
    }
}

void Daemon::manageReposPolicyFile()
{
    m_logger.debug(KIRTA_WHERE);
    // The upgrade at boot reads it: an empty file would send it to other
    // sources.
    QString error;
    if (!writeFileAtomically(REPOS_POLICY_PATH, QByteArray::number(m_allReposPolicy), &error))
        m_logger.error(QStringLiteral("Cannot write repos policy file %1: %2")
                               .arg(REPOS_POLICY_PATH, error));
}
