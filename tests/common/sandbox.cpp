// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "sandbox.h"

#include "waituntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Left in the root by reset(): only directories that carry it are emptied,
// so a mistaken KIRTA_SYSROOT never costs a real directory.
const char *const MARKER = ".kirta-sandbox-tree";

const char *const BASE_DIRS[] = {
        "/etc/kirta-update-service",
        "/var/log",
        "/var/cache",
        "/var/cache/apt/archives",
        "/tmp",
        "/usr/bin",
        "/usr/sbin",
        "/standin",
};
} // namespace

SandboxTree::SandboxTree()
    : SandboxTree(QString::fromLocal8Bit(qgetenv("KIRTA_SYSROOT")))
{ }

SandboxTree::SandboxTree(const QString &root)
    : m_root(root.isEmpty() ? QString() : QDir::cleanPath(root))
{ }

QString SandboxTree::root() const
{
    return m_root;
}

bool SandboxTree::isValid() const
{
    return QDir::isAbsolutePath(m_root) && m_root != QLatin1String("/");
}

bool SandboxTree::reset()
{
    if (!isValid())
        return false;
    QDir dir(m_root);
    if (dir.exists()) {
        const bool empty = dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System
                                       | QDir::NoDotAndDotDot);
        if (!empty && !QFileInfo::exists(dir.filePath(QLatin1String(MARKER))))
            return false;
        // A download outlives the daemon that started it, so a stand-in of
        // the last case may still write here while the tree goes. The marker
        // goes last: a removal that lost such a race is done again, and the
        // tree stays known as a sandbox tree even when it fails for good.
        const auto clear = [&dir] {
            bool cleared = true;
            for (const QFileInfo &entry : dir.entryInfoList(
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
                if (entry.fileName() == QLatin1String(MARKER))
                    continue;
                cleared &= entry.isDir() && !entry.isSymLink()
                                   ? QDir(entry.filePath()).removeRecursively()
                                   : QFile::remove(entry.filePath());
            }
            return cleared;
        };
        if (!waitUntil(clear, 5000))
            return false;
    }
    if (!QDir().mkpath(m_root))
        return false;
    for (const char *sub : BASE_DIRS) {
        if (!mkpath(QLatin1String(sub)))
            return false;
    }
    QFile marker(dir.filePath(QLatin1String(MARKER)));
    return marker.open(QIODevice::WriteOnly);
}

QString SandboxTree::path(const QString &absolutePath) const
{
    if (!absolutePath.startsWith(QLatin1Char('/')))
        return absolutePath;
    return m_root + absolutePath;
}

bool SandboxTree::exists(const QString &absolutePath) const
{
    return QFileInfo::exists(path(absolutePath));
}

bool SandboxTree::mkpath(const QString &absolutePath) const
{
    return isValid() && QDir().mkpath(path(absolutePath));
}

bool SandboxTree::writeFile(const QString &absolutePath, const QByteArray &content) const
{
    if (!isValid())
        return false;
    const QString target = path(absolutePath);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

bool SandboxTree::writeFile(const QString &absolutePath, const QString &content) const
{
    return writeFile(absolutePath, content.toUtf8());
}

QString SandboxTree::readFile(const QString &absolutePath) const
{
    QFile file(path(absolutePath));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString SandboxTree::standInScript()
{
    QString dir = QString::fromLocal8Bit(qgetenv("KIRTA_STANDIN_DIR"));
    if (dir.isEmpty())
        dir = QStringLiteral(KIRTA_DEFAULT_STANDIN_DIR);
    return QDir(dir).filePath(QStringLiteral("standin"));
}

bool SandboxTree::installStandIn(const QString &absoluteProgramPath) const
{
    if (!isValid() || !absoluteProgramPath.startsWith(QLatin1Char('/')))
        return false;
    const QString target = path(absoluteProgramPath);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    QFile::remove(target);
    // A copy, not a link: the script finds its name and, without
    // KIRTA_SYSROOT, the tree from the path it was started by.
    if (!QFile::copy(standInScript(), target))
        return false;
    return QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                 | QFile::ReadGroup | QFile::ExeGroup
                                                 | QFile::ReadOther | QFile::ExeOther);
}

QStringList SandboxTree::daemonProgramPaths()
{
    return {QStringLiteral("/usr/sbin/kirta-update-service"),
            QStringLiteral("/usr/bin/apt"),
            QStringLiteral("/usr/bin/ping"),
            QStringLiteral("/usr/bin/lsof"),
            QStringLiteral("/usr/bin/kirta-update-modern"),
            QStringLiteral("/usr/sbin/kirta-snapshots-manager")};
}

bool SandboxTree::installDaemonStandIns() const
{
    for (const QString &program : daemonProgramPaths()) {
        if (!installStandIn(program))
            return false;
    }
    return true;
}

bool SandboxTree::prepareDaemonCycle() const
{
    return installDaemonStandIns() && installStandIn(QStringLiteral("/usr/bin/apt-cache"))
           && mkpath(QStringLiteral("/var/cache/apt/archives"))
           && writeFile(QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf"),
                        QStringLiteral("T_check=60\nT_download_min=0\nT_download_max=1\n"));
}

QString SandboxTree::controlFile(const QString &name, const QString &suffix) const
{
    return QStringLiteral("/standin/%1.%2").arg(name, suffix);
}

bool SandboxTree::setStandInExitCode(const QString &name, int exitCode) const
{
    return writeFile(controlFile(name, QStringLiteral("exit")), QString::number(exitCode) + '\n');
}

bool SandboxTree::setStandInOutput(const QString &name, const QString &text) const
{
    return writeFile(controlFile(name, QStringLiteral("output")), text);
}

bool SandboxTree::setStandInDelay(const QString &name, double seconds) const
{
    return writeFile(controlFile(name, QStringLiteral("delay")),
                     QString::number(seconds, 'f', 3) + '\n');
}

QStringList SandboxTree::standInCalls(const QString &name) const
{
    QStringList lines
            = readFile(controlFile(name, QStringLiteral("calls"))).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool SandboxTree::clearStandInCalls(const QString &name) const
{
    const QString file = path(controlFile(name, QStringLiteral("calls")));
    return !QFileInfo::exists(file) || QFile::remove(file);
}

QString SandboxTree::sampleConfiguration(int tCheck)
{
    return QStringLiteral("# test configuration\n"
                          "T_check=%1\n"
                          "T_download_min=10\n"
                          "T_download_max=120\n"
                          "T_retry=2\n"
                          "T_end_check=10\n"
                          "T_delay=3\n"
                          "Action_on_error=Stop\n"
                          "Snapshot=false\n"
                          "Always_new_update=false\n"
                          "Free_space_policy=2\n"
                          "Use_sources_list_d=1\n"
                          "Host_to_ping=127.0.0.1\n"
                          "Log_level=debug\n")
            .arg(tCheck);
}
