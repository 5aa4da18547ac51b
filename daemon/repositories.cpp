// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "atomicwrite.h"
#include "constants.h"
#include "daemon.h"
#include "trustedpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
QString systemError(const QString &path)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

// The list's sources are installed from as root: only root may change it.
// It is judged and read through one descriptor, so what was judged is
// what is copied. "" when the list is fit and read.
QString readTrustedList(const QString &repo, QByteArray *content)
{
    QString why = TrustedPath::whyUntrusted(repo);
    if (!why.isEmpty())
        return why;
    const QString real = QFileInfo(repo).canonicalFilePath();
    const int fd = ::open(QFile::encodeName(real).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemError(real);
    why = TrustedPath::whyUntrustedFile(fd, real);
    char buffer[8192];
    while (why.isEmpty()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got > 0)
            content->append(buffer, int(got));
        else if (errno != EINTR)
            why = systemError(real);
    }
    ::close(fd);
    return why;
}
} // namespace

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
    QSet<QString> copied;
    for (const QString &piece : repos) {
        const QString repo = piece.simplified();
        // A piece of blanks only names no file; QFile would test the
        // working directory for it.
        if (repo.isEmpty() || !QFileInfo(repo).isFile() || m_extraRepos.contains(repo))
            continue;
        QByteArray content;
        const QString untrusted = readTrustedList(repo, &content);
        if (!untrusted.isEmpty()) {
            m_logger.warning(QStringLiteral("Extra repository list %1 refused: not owned by root "
                                            "or writable by group or others (%2)")
                                     .arg(repo, untrusted));
            continue;
        }
        m_extraRepos.append(repo);
        m_logger.debug(where, QStringLiteral("repo = ") + repo);
        // Of two lists of the same name the first one is used.
        const QString name = QFileInfo(repo).fileName();
        if (copied.contains(name))
            continue;
        copied.insert(name);
        QString error;
        if (!writeFileAtomically(SOURCES_DIR + QLatin1Char('/') + name, content, &error, 0644))
            m_logger.error(
                    QStringLiteral("Cannot copy %1 to %2: %3").arg(repo, SOURCES_DIR, error));
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
