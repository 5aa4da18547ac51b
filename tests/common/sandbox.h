// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The directory tree that a sandbox build of the programs takes for "/".
//
// Its root is $KIRTA_SYSROOT (ctest gives every test a root of its own).
// Absolute paths of the product are passed as written and mapped with
// path(). Stand-in programs are copies of tests/standins/standin; each one is
// programmed and observed through files under <root>/standin named after the
// program's base name:
//   <name>.calls   one line per run, the arguments joined by spaces
//   <name>.exit    exit code (default 0)
//   <name>.output  printed on standard output
//   <name>.delay   seconds to sleep before answering
class SandboxTree
{
public:
    // Root taken from $KIRTA_SYSROOT.
    SandboxTree();
    explicit SandboxTree(const QString &root);

    QString root() const;
    // The root is an absolute path other than "/".
    bool isValid() const;

    // Empties the tree and lays out the base directories. The log and state
    // directories of the daemon stay absent: creating them is the daemon's
    // job. Refuses (false) a root that is not valid, and an existing
    // non-empty directory that an earlier reset() did not mark as a tree.
    bool reset();

    QString path(const QString &absolutePath) const;
    bool exists(const QString &absolutePath) const;
    bool mkpath(const QString &absolutePath) const;
    // Creates missing parent directories.
    bool writeFile(const QString &absolutePath, const QByteArray &content) const;
    bool writeFile(const QString &absolutePath, const QString &content) const;
    // Empty when the file is missing.
    QString readFile(const QString &absolutePath) const;

    // Puts the stand-in script at `absoluteProgramPath` inside the tree.
    bool installStandIn(const QString &absoluteProgramPath) const;
    // Stand-ins for every outside program the daemon runs by absolute path.
    bool installDaemonStandIns() const;
    // A tree in which the sandboxed daemon program can run a whole cycle:
    // every stand-in, apt-cache, the archive directory, short timers.
    bool prepareDaemonCycle() const;
    static QStringList daemonProgramPaths();

    // `name` is the program's base name ("apt", "kirta-update-service").
    bool setStandInExitCode(const QString &name, int exitCode) const;
    bool setStandInOutput(const QString &name, const QString &text) const;
    bool setStandInDelay(const QString &name, double seconds) const;
    // Argument lines of the runs so far, oldest first.
    QStringList standInCalls(const QString &name) const;
    // Forgets the recorded runs of `name`.
    bool clearStandInCalls(const QString &name) const;

    // The generic stand-in script in the source tree.
    static QString standInScript();

    // A complete daemon configuration for process tests: every key set,
    // no free-space check, the loopback as the host to ping, debug log.
    static QString sampleConfiguration(int tCheck = 60);

private:
    QString controlFile(const QString &name, const QString &suffix) const;

    QString m_root;
};
