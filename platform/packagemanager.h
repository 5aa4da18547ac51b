// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>
#include <QStringList>

class Logger;

namespace ZunAdmin {

// Questions to the package tools. Every program runs with LC_ALL=C (so its
// output is not translated) for at most the time-out; a program that is
// missing, crashes or does not finish in time (it is killed) gives the
// negative answer and one warning (to the logger, or qWarning without one).
class PackageManager
{
public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    explicit PackageManager(const Logger *logger = nullptr);

    void setTimeout(int milliseconds);

    // The version apt would install: runs
    //   /usr/bin/apt-cache <aptOptions...> policy <package>
    // and takes the text after "Candidate:" in the first such line. Empty
    // when there is none, when it is "(none)" or when apt-cache fails or
    // exits with a code other than 0.
    QString getCandidatePackageVersion(const QString &package, const QStringList &aptOptions) const;

    // Whether dpkg lists the package in a state that `pattern` accepts.
    // Runs
    //   /usr/bin/dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' <package>
    // which prints lines like "ii  kirta-upgrade:amd64 1.0" ("un ", "rc ",
    // "iU " ... for other states). Each line has its runs of white space
    // folded to one blank. `pattern` gets %1 replaced by the package name
    // escaped for a regular expression, and a line counts when it matches
    //   ^(?:<pattern>)(?::<arch>)?(?:\s|$)
    // so "ii\s%1" accepts "ii kirta-upgrade 1.0" and "ii kirta-upgrade:amd64
    // 1.0", but neither "ii kirta-upgrade-extra 1.0" nor "rc kirta-upgrade
    // 1.0" nor "un kirta-upgrade". True when any line counts.
    bool isPackageInstalled(const QString &package, const QString &pattern) const;

private:
    // False when the program could not run to its end; then already logged.
    bool run(const QString &program, const QStringList &arguments, QByteArray *output,
             int *exitCode) const;
    void warn(const QString &message) const;

    const Logger *m_logger;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};

} // namespace ZunAdmin
