#include "constants.h"
#include "daemon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void Daemon::parseExtraRepos(const QString &extraRepos)
{
    const QString where = QStringLiteral("void Daemon::parseExtraRepos(const QString&)");
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
        if (!repo.isEmpty() && QFileInfo(repo).isFile() && !m_extraRepos.contains(repo))
            m_extraRepos.append(repo);
    }
    for (const QString &repo : qAsConst(m_extraRepos)) {
        m_logger.debug(where, QStringLiteral("repo = ") + repo);
        QFile::copy(repo, SOURCES_DIR + QLatin1Char('/') + QFileInfo(repo).fileName());
    }
}

void Daemon::cleanSourceDir()
{
    const QString where = QStringLiteral("void Daemon::cleanSourceDir()");
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
    m_logger.debug(QStringLiteral("const QStringList Daemon::getArgsForRepos(int)"),
                   QStringLiteral("repospolicy"), policy);
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
    m_logger.debug(QStringLiteral("void Daemon::manageReposPolicyFile()"));
    QFile file(REPOS_POLICY_PATH);
    const QByteArray policy = QByteArray::number(m_allReposPolicy);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(policy) != policy.size() || !file.flush())
        m_logger.error(QStringLiteral("Cannot write repos policy file %1: %2")
                               .arg(REPOS_POLICY_PATH, file.errorString()));
}
