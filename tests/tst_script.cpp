// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "logger.h"
#include "sandbox.h"
#include "script.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

namespace {
const QString SERVICE = QStringLiteral("/usr/sbin/kirta-update-service");
const QString SERVICE_NAME = QStringLiteral("kirta-update-service");
const QString BOOL_ERROR
        = QStringLiteral("bool Script::m_exitCodeToBool(int): Error executing script");
const int SHORT_TIMEOUT_MS = 1000;
// Far below the hanging stand-in's 30 s.
const int BOUND_MS = 10000;

// The questions, by name, each as the int the caller sees.
int ask(Script &script, const QString &question)
{
    if (question == QLatin1String("snapshot"))
        return script.snapshotManagerInstalled();
    if (question == QLatin1String("automatization"))
        return script.automatizationEnabled();
    if (question == QLatin1String("space3"))
        return script.isEnoughFreeSpace(3);
    if (question == QLatin1String("space0"))
        return script.isEnoughFreeSpace(0);
    if (question == QLatin1String("fstype"))
        return script.getFsType();
    qFatal("unknown question %s", qPrintable(question));
}
} // namespace

class TestScript : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    std::unique_ptr<Logger> m_logger;

    QStringList logLines() const
    {
        return m_tree.readFile(QStringLiteral("/var/log/workers.log"))
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool logHas(const QString &level, const QString &message) const
    {
        const QString tail = QLatin1Char(' ') + level + QLatin1Char(' ') + message;
        for (const QString &line : logLines()) {
            if (line.endsWith(tail))
                return true;
        }
        return false;
    }

    void installProgram(const QString &script, bool executable = true)
    {
        QVERIFY(m_tree.writeFile(SERVICE, script));
        QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            perms |= QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(m_tree.path(SERVICE), perms));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_logger = std::make_unique<Logger>(m_tree.path(QStringLiteral("/var/log/workers.log")),
                                            Logger::Debug);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("boolError");

        QTest::newRow("snapshot manager installed")
                << "snapshot" << 1 << "snapshot_manager_installed" << 1 << false;
        QTest::newRow("automatization enabled")
                << "automatization" << 1 << "automatization_enabled" << 1 << false;
        QTest::newRow("automatization, bad code")
                << "automatization" << 2 << "automatization_enabled" << 0 << true;
        QTest::newRow("enough space") << "space3" << 1 << "is_enough_free_space 3" << 1 << false;
        QTest::newRow("not enough space")
                << "space0" << 0 << "is_enough_free_space 0" << 0 << false;
        QTest::newRow("fs type 2 is no error") << "fstype" << 2 << "get_fs_type" << 2 << false;
        QTest::newRow("fs type 0") << "fstype" << 0 << "get_fs_type" << 0 << false;
    }

    void answers()
    {
        QFETCH(QString, question);
        QFETCH(int, exitCode);
        QFETCH(QString, arguments);
        QFETCH(int, answer);
        QFETCH(bool, boolError);

        QVERIFY(m_tree.installStandIn(SERVICE));
        QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, exitCode));
        Script script(SERVICE_SCRIPT_PATH, m_logger.get());

        QCOMPARE(ask(script, question), answer);
        QCOMPARE(m_tree.standInCalls(SERVICE_NAME), QStringList {arguments});
        QVERIFY(logHas(QStringLiteral("INFO"), QStringLiteral("%1 %2 exited with code %3")
                                                       .arg(SERVICE_SCRIPT_PATH, arguments)
                                                       .arg(exitCode)));
        QCOMPARE(logHas(QStringLiteral("ERROR"), BOOL_ERROR), boolError);
    }

    // No exit code to go by: every question reads as "no" (0), logged,
    // and never as a bad exit code.
    void failures_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");

        // A bool question and the int one; a program that cannot start,
        // hangs past the time-out, or dies by a signal.
        for (const char *question : {"snapshot", "fstype"}) {
            QTest::addRow("%s, missing", question) << question << "missing"
                                                   << "failed to finish";
            QTest::addRow("%s, not executable", question) << question << "not executable"
                                                          << "failed to finish";
            QTest::addRow("%s, hanging", question) << question << "hanging"
                                                   << "failed to finish";
            QTest::addRow("%s, killed", question) << question << "killed"
                                                  << "exit with error disk on fire";
        }
    }

    void failures()
    {
        QFETCH(QString, question);
        QFETCH(QString, setup);
        QFETCH(QString, message);

        if (setup == QLatin1String("not executable")) {
            installProgram(QStringLiteral("#!/bin/sh\nexit 1\n"), false);
        } else if (setup == QLatin1String("hanging")) {
            QVERIFY(m_tree.installStandIn(SERVICE));
            QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, 1));
            QVERIFY(m_tree.setStandInDelay(SERVICE_NAME, 30));
        } else if (setup == QLatin1String("killed")) {
            installProgram(QStringLiteral("#!/bin/sh\necho 'disk on fire' >&2\nkill -KILL $$\n"));
        }
        Script script(SERVICE_SCRIPT_PATH, m_logger.get());
        script.setTimeoutMs(SHORT_TIMEOUT_MS);

        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(ask(script, question), 0);
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));

        const QString arguments = question == QLatin1String("snapshot")
                                          ? QStringLiteral("snapshot_manager_installed")
                                          : QStringLiteral("get_fs_type");
        const QString expected
                = QStringLiteral("%1 %2 %3").arg(SERVICE_SCRIPT_PATH, arguments, message);
        QVERIFY2(logHas(QStringLiteral("ERROR"), expected), qPrintable(logLines().join('\n')));
        QVERIFY(!logHas(QStringLiteral("ERROR"), BOOL_ERROR));
    }

    // A question that timed out must not leave its program running to
    // answer the next question in its place.
    void timedOutRunDoesNotAnswerNextQuestion()
    {
        QVERIFY(m_tree.installStandIn(SERVICE));
        QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, 1));
        QVERIFY(m_tree.setStandInDelay(SERVICE_NAME, 30));
        Script script(SERVICE_SCRIPT_PATH, m_logger.get());
        script.setTimeoutMs(SHORT_TIMEOUT_MS);
        QCOMPARE(script.automatizationEnabled(), false);

        QVERIFY(m_tree.setStandInDelay(SERVICE_NAME, 0));
        QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, 2));
        script.setTimeoutMs(BOUND_MS);
        QCOMPARE(script.getFsType(), 2);
        QCOMPARE(m_tree.standInCalls(SERVICE_NAME),
                 (QStringList {QStringLiteral("automatization_enabled"),
                               QStringLiteral("get_fs_type")}));
    }

    void withoutLogger()
    {
        QVERIFY(m_tree.installStandIn(SERVICE));
        QVERIFY(m_tree.setStandInExitCode(SERVICE_NAME, 7));
        Script script(SERVICE_SCRIPT_PATH, nullptr);
        QCOMPARE(script.snapshotManagerInstalled(), false);
        QCOMPARE(script.getFsType(), 7);
        QCOMPARE(m_tree.standInCalls(SERVICE_NAME).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestScript)
#include "tst_script.moc"
