// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "sandbox.h"
#include "singlecoreapplication.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
const int WAIT_MS = 10000;

// This program again, as an instance of its own: "--hold PATH" takes the
// guard, forks a child that never execs (as one caught between its fork
// and its exec), prints the child's pid and dies when its input ends;
// "--probe PATH" exits 0 when it got the guard, 1 when another instance
// runs.
int runHelper(int argc, char **argv)
{
    const bool hold = std::strcmp(argv[1], "--hold") == 0;
    SingleCoreApplication app(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (app.isRunning())
        return 1;
    if (!hold)
        return 0;
    const pid_t child = ::fork();
    if (child == 0) {
        // Outlives its parent on purpose; the test ends it, or the alarm.
        ::alarm(60);
        ::pause();
        ::_exit(0);
    }
    std::printf("%d\n", int(child));
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) { }
    ::_exit(0);
}
} // namespace

// The daemon's single-instance guard, between instances of a program.
class TestInstanceGuard : public QObject
{
    Q_OBJECT

    SandboxTree m_tree;

    int probe(const QString &lock)
    {
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--probe"), lock});
        if (!process.waitForFinished(WAIT_MS))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private Q_SLOTS:
    // A died instance's child that has not exec'd yet shares its open
    // files; it must not keep the guard from the next instance.
    void freeOnceTheHolderDies()
    {
        QVERIFY(m_tree.reset());
        const QString lock = m_tree.path(QStringLiteral("/run/guard.lock"));
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), lock});
        QVERIFY(holder.waitForReadyRead(WAIT_MS));
        const pid_t child = pid_t(holder.readLine().trimmed().toInt());
        QVERIFY(child > 0);
        auto reap = qScopeGuard([child] { ::kill(child, SIGKILL); });

        QCOMPARE(probe(lock), 1);
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(WAIT_MS));
        QCOMPARE(::kill(child, 0), 0);
        QCOMPARE(probe(lock), 0);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--hold") == 0 || std::strcmp(argv[1], "--probe") == 0))
        return runHelper(argc, argv);
    QCoreApplication app(argc, argv);
    TestInstanceGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceguard.moc"
