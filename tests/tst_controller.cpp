// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "controller.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
const QString IMITATION = QStringLiteral("/usr/bin/kirta-update-modern");
const QString IMITATION_NAME = QStringLiteral("kirta-update-modern");
const int SHORT_TIMEOUT_MS = 1000;
// Far below the hanging stand-in's 30 s.
const int BOUND_MS = 10000;

// One imitation as the daemon drives it, observed from the main thread.
struct Run
{
    QPointer<QThread> thread;
    QPointer<Controller> controller;
    QVector<int> results;
    bool allOnMainThread = true;

    bool released() const { return thread.isNull() && controller.isNull(); }
};
} // namespace

class TestController : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::vector<std::unique_ptr<Run>> m_runs;

    Run *start(const QStringList &args, bool defaultMode, int timeoutMs)
    {
        m_runs.push_back(std::make_unique<Run>());
        Run *run = m_runs.back().get();
        auto *thread = new QThread;
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        auto *controller = new Controller(thread);
        controller->setArgs(args);
        controller->setDefaultMode(defaultMode);
        controller->setTimeoutMs(timeoutMs);
        connect(controller, &Controller::processFinished, this, [run](int res) {
            run->results << res;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                run->allOnMainThread = false;
        });
        run->thread = thread;
        run->controller = controller;
        thread->start(QThread::InheritPriority);
        return run;
    }

    // Waits until the run has reported and released its worker and thread;
    // with both gone nothing can report again.
    static bool finished(Run *run, int timeoutMs)
    {
        if (!waitUntil([run] { return !run->results.isEmpty() && run->released(); }, timeoutMs))
            return false;
        QCoreApplication::sendPostedEvents();
        return true;
    }

    void installProgram(const QString &script)
    {
        QVERIFY(m_tree.writeFile(IMITATION, script));
        QVERIFY(QFile::setPermissions(m_tree.path(IMITATION),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_runs.clear();
    }

    // Exact command lines, and every way a run can end reaches the main
    // thread as exactly one result, within the bound, and leaves no worker
    // or thread behind.
    void runs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("defaultMode");
        QTest::addColumn<QString>("setup"); // "exit N", "killed", "missing" or "hanging"
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("line"); // empty: not checked

        const QStringList none;
        const QStringList options {QStringLiteral("-o"),
                                   QStringLiteral("Dir::Etc::sourceparts=''")};
        QTest::newRow("no options, policy 0") << none << true << "exit 0" << 0 << "-n -A -T -r";
        QTest::newRow("no options, other policy, failed")
                << none << false << "exit 3" << 3 << "-n -A -T -r -S";
        QTest::newRow("options, policy 0")
                << options << true << "exit 0" << 0 << "-n -A -o Dir::Etc::sourceparts=''";
        QTest::newRow("options, other policy")
                << options << false << "exit 0" << 0 << "-n -A -o Dir::Etc::sourceparts='' -S";
        QTest::newRow("killed by a signal")
                << none << true << "killed" << int(Controller::RESULT_CRASHED) << "";
        QTest::newRow("missing program")
                << none << true << "missing" << int(Controller::RESULT_NOT_FINISHED) << "";
        QTest::newRow("hanging program")
                << none << true << "hanging" << int(Controller::RESULT_NOT_FINISHED) << "";
    }

    void runs()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, defaultMode);
        QFETCH(QString, setup);
        QFETCH(int, result);
        QFETCH(QString, line);

        if (setup == QLatin1String("killed")) {
            installProgram(QStringLiteral("#!/bin/sh\nkill -KILL $$\n"));
        } else if (setup != QLatin1String("missing")) {
            QVERIFY(m_tree.installStandIn(IMITATION));
            if (setup == QLatin1String("hanging"))
                QVERIFY(m_tree.setStandInDelay(IMITATION_NAME, 30));
            else
                QVERIFY(m_tree.setStandInExitCode(IMITATION_NAME, setup.mid(5).toInt()));
        }

        QElapsedTimer elapsed;
        elapsed.start();
        Run *run = start(args, defaultMode, SHORT_TIMEOUT_MS);
        QVERIFY(finished(run, BOUND_MS));
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(run->results, QVector<int> {result});
        QVERIFY(run->allOnMainThread);
        if (!line.isEmpty())
            QCOMPARE(m_tree.standInCalls(IMITATION_NAME), QStringList {line});
    }

    void manyRunsReleaseEverything()
    {
        QVERIFY(m_tree.installStandIn(IMITATION));
        QVERIFY(m_tree.setStandInExitCode(IMITATION_NAME, 4));
        const int count = 12;
        for (int i = 0; i < count; ++i)
            start({}, i % 2 == 0, BOUND_MS);

        KIRTA_WAIT_VERIFY(std::all_of(m_runs.begin(), m_runs.end(),
                                      [](const std::unique_ptr<Run> &run) {
                                          return !run->results.isEmpty() && run->released();
                                      }),
                          30000);
        QCoreApplication::sendPostedEvents();
        for (const auto &run : m_runs) {
            QCOMPARE(run->results, QVector<int> {4});
            QVERIFY(run->allOnMainThread);
        }
        QCOMPARE(m_tree.standInCalls(IMITATION_NAME).size(), count);
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
