// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "packagemanager.h"

#include "childprocess.h"
#include "logger.h"
#include "sysroot.h"

#include <QRegularExpression>
#include <QtDebug>

namespace ZunAdmin {

namespace {
const char *const APT_CACHE = "/usr/bin/apt-cache";
const char *const DPKG_QUERY = "/usr/bin/dpkg-query";
const char *const DPKG_FORMAT = "-f=${db:Status-Abbrev} ${binary:Package} ${Version}\n";
const char *const CANDIDATE_PREFIX = "Candidate:";
const char *const NO_CANDIDATE = "(none)";

QStringList outputLines(const QByteArray &output)
{
    return QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

PackageManager::PackageManager(const Logger *logger)
    : m_logger(logger)
{ }

void PackageManager::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
}

QString PackageManager::getCandidatePackageVersion(const QString &package,
                                                   const QStringList &aptOptions) const
{
    const QString program = Sysroot::path(QLatin1String(APT_CACHE));
    QByteArray output;
    int exitCode = 0;
    if (!run(program, QStringList(aptOptions) << QStringLiteral("policy") << package, &output,
             &exitCode))
        return QString();
    if (exitCode != 0) {
        warn(QStringLiteral("%1 exited with code %2").arg(program).arg(exitCode));
        return QString();
    }
    for (const QString &line : outputLines(output)) {
        const QString field = line.trimmed();
        if (!field.startsWith(QLatin1String(CANDIDATE_PREFIX)))
            continue;
        const QString version = field.mid(int(qstrlen(CANDIDATE_PREFIX))).trimmed();
        return version == QLatin1String(NO_CANDIDATE) ? QString() : version;
    }
    return QString();
}

bool PackageManager::isPackageInstalled(const QString &package, const QString &pattern) const
{
    if (package.isEmpty())
        return false;
    QByteArray output;
    int exitCode = 0;
    // dpkg-query exits with 1 when it knows no such package and prints
    // nothing then, so its exit code adds nothing to the lines.
    if (!run(Sysroot::path(QLatin1String(DPKG_QUERY)),
             {QStringLiteral("-W"), QLatin1String(DPKG_FORMAT), QStringLiteral("--"), package},
             &output, &exitCode))
        return false;

    const QString filled = pattern.contains(QLatin1String("%1"))
                                   ? pattern.arg(QRegularExpression::escape(package))
                                   : pattern;
    const QRegularExpression lineRule(QStringLiteral("^(?:%1)(?::\\S+)?(?:\\s|$)").arg(filled));
    if (!lineRule.isValid()) {
        warn(QStringLiteral("Invalid package pattern \"%1\": %2")
                     .arg(pattern, lineRule.errorString()));
        return false;
    }
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString &line : outputLines(output)) {
        const QString folded = QString(line).replace(blanks, QStringLiteral(" ")).trimmed();
        if (lineRule.match(folded).hasMatch())
            return true;
    }
    return false;
}

bool PackageManager::run(const QString &program, const QStringList &arguments, QByteArray *output,
                         int *exitCode) const
{
    ChildProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setProgram(program);
    process.setArguments(arguments);
    // A query that hangs is ended with all it started (apt's methods).
    if (process.run(m_timeoutMs, ChildProcess::Overrun::End, QIODevice::ReadOnly)
        != ChildProcess::Ending::Exited) {
        warn(QStringLiteral("%1 %2").arg(program, process.describe(m_timeoutMs)));
        return false;
    }
    *output = process.readAllStandardOutput();
    *exitCode = process.exitCode();
    return true;
}

void PackageManager::warn(const QString &message) const
{
    if (m_logger)
        m_logger->warning(message);
    else
        qWarning().noquote() << message;
}

} // namespace ZunAdmin
