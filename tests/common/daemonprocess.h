// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>

#include <memory>

// The daemon's program run as a child of the test.
//
// It starts with this process's environment (KIRTA_SYSROOT,
// DBUS_SYSTEM_BUS_ADDRESS), which setEnvironmentValue() and
// unsetEnvironmentValue() adjust before start(). The child is always reaped:
// the destructor kills one that still runs.
class DaemonProcess
{
public:
    // waitForExit() results that are not exit codes.
    static constexpr int STILL_RUNNING = -1;
    static constexpr int CRASHED = -2;

    // Defaults to $KIRTA_BIN_DIR/kirta-update-daemon.
    explicit DaemonProcess(const QString &program = defaultProgram());
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess &) = delete;
    DaemonProcess &operator=(const DaemonProcess &) = delete;

    static QString defaultProgram();

    void setEnvironmentValue(const QString &name, const QString &value);
    void unsetEnvironmentValue(const QString &name);
    void setWorkingDirectory(const QString &dir);

    // False when the program could not be started.
    bool start(int timeoutMs = 5000);
    bool isRunning() const;
    qint64 pid() const;

    // The exit code, STILL_RUNNING after `timeoutMs`, or CRASHED when a
    // signal ended the child.
    int waitForExit(int timeoutMs = 5000);
    QProcess::ExitStatus exitStatus() const;
    // SIGTERM or SIGKILL, then waits for the child (and kills it when it
    // outlives `timeoutMs`). True when the child is gone.
    bool terminate(int timeoutMs = 5000);
    bool kill(int timeoutMs = 5000);

    // Everything the child wrote so far.
    QByteArray standardOutput();
    QByteArray standardError();

    // The daemon's log file in the sandbox tree; empty when missing.
    static QString logFilePath();
    static QString logText();
    // Waits until the log, from character `from` on, holds `text` or a match
    // of `pattern`.
    static bool waitForLog(const QString &text, int timeoutMs = 5000, int from = 0);
    static bool waitForLog(const QRegularExpression &pattern, int timeoutMs = 5000, int from = 0);

    // True when the running daemon holds an inotify watch on the inode that
    // `filePath` names now (read from /proc). A file replaced by a rename
    // is watched again only once the daemon has re-armed its watcher.
    bool watchesFile(const QString &filePath) const;

    // Exit state, standard error and the log's tail. The destructor prints
    // them when the current test has failed.
    QString diagnostics();

private:
    void collectOutput();
    // Kills what is left of the daemon's process group once it has ended.
    void endStrandedCopies();

    std::unique_ptr<QProcess> m_process;
    // The daemon leads a process group of its own: this one.
    qint64 m_group = 0;
    QProcessEnvironment m_environment;
    QByteArray m_stdout;
    QByteArray m_stderr;
};
