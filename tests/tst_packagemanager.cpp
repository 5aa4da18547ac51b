// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "packagemanager.h"
#include "processinfo.h"
#include "sandbox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

using ZunAdmin::PackageManager;

namespace {
const char *const APT_CACHE = "/usr/bin/apt-cache";
const char *const DPKG_QUERY = "/usr/bin/dpkg-query";
// What the daemon asks about the major-release upgrade tool.
const char *const INSTALLED_PATTERN = "ii\\s%1";
const int SHORT_TIMEOUT_MS = 1000;
// Far below the hanging fake's 30 s, far above the time-out.
const int BOUND_MS = 10000;
// A program that outlives the time-out and leaves a child behind that
// ignores SIGTERM; the child's id goes to $KIRTA_SYSROOT/child.
const char *const DEAF_GROUP = "#!/bin/sh\n"
                               "(trap '' TERM; exec sleep 60) &\n"
                               "echo $! > \"$KIRTA_SYSROOT/child\"\n"
                               "wait\n";
} // namespace

class TestPackageManager : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;

    // A fake program that records its arguments, one per line, then prints
    // `output` and exits with `exitCode`.
    void installFake(const char *program, const QString &output, int exitCode)
    {
        const QString args = m_tree.path(QStringLiteral("/args"));
        QVERIFY(m_tree.writeFile(QStringLiteral("/output"), output));
        const QString script = QStringLiteral("#!/bin/sh\n"
                                              "printf '%s\\n' \"$@\" > '%1'\n"
                                              "cat '%2'\n"
                                              "exit %3\n")
                                       .arg(args, m_tree.path(QStringLiteral("/output")))
                                       .arg(exitCode);
        installScript(program, script);
    }

    void installScript(const char *program, const QString &script)
    {
        QVERIFY(m_tree.writeFile(QLatin1String(program), script));
        QVERIFY(QFile::setPermissions(m_tree.path(QLatin1String(program)),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QStringList recordedArguments() const
    {
        QStringList lines = m_tree.readFile(QStringLiteral("/args")).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

private Q_SLOTS:
    void init() { QVERIFY2(m_tree.reset(), qPrintable(m_tree.root())); }

    void candidate_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");

        QTest::newRow("upgradable") << "kirta-version:\n"
                                       "  Installed: 2.0-1\n"
                                       "  Candidate: 2.1-3\n"
                                       "  Version table:\n"
                                       " *** 2.0-1 500\n"
                                    << 0 << "2.1-3";
        QTest::newRow("no candidate") << "kirta-version:\n  Installed: (none)\n"
                                         "  Candidate: (none)\n"
                                      << 0 << "";
        QTest::newRow("no candidate line") << "kirta-version:\n  Installed: 2.0\n" << 0 << "";
        QTest::newRow("first of two") << "a:\n  Candidate: 1:3.0~rc1\nb:\n  Candidate: 9\n"
                                      << 0 << "1:3.0~rc1";
        QTest::newRow("failing apt-cache") << "kirta-version:\n  Candidate: 2.1\n" << 100 << "";
    }

    void candidate()
    {
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        installFake(APT_CACHE, output, exitCode);

        const QStringList options
                = {QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceList=/dev/null"),
                   QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceParts=/x y")};
        QCOMPARE(PackageManager().getCandidatePackageVersion(QStringLiteral("kirta-version"),
                                                             options),
                 expected);
        QCOMPARE(recordedArguments(), QStringList(options) << QStringLiteral("policy")
                                                           << QStringLiteral("kirta-version"));
    }

    void installed_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("expected");

        const QString tool = QStringLiteral("kirta-upgrade");
        QTest::newRow("installed") << tool << "ii  kirta-upgrade 1.0\n" << true;
        QTest::newRow("installed with arch") << tool << "ii  kirta-upgrade:amd64 1.0\n" << true;
        QTest::newRow("tab separated") << tool << "ii\tkirta-upgrade\t1.0\n" << true;
        QTest::newRow("among others") << tool << "un  kirta-upgrade-extra \nii  kirta-upgrade 2.0\n"
                                      << true;
        QTest::newRow("longer name") << tool << "ii  kirta-upgrade-extra 1.0\n" << false;
        QTest::newRow("name with prefix") << tool << "ii  xkirta-upgrade 1.0\n" << false;
        QTest::newRow("config files left") << tool << "rc  kirta-upgrade 1.0\n" << false;
        QTest::newRow("not installed") << tool << "un  kirta-upgrade \n" << false;
        QTest::newRow("half installed") << tool << "iU  kirta-upgrade 1.0\n" << false;
        QTest::newRow("reinstall required") << tool << "iiR kirta-upgrade 1.0\n" << false;
        QTest::newRow("nothing known") << tool << "" << false;
        QTest::newRow("plus signs escaped") << "libstdc++6"
                                            << "ii  libstdc++6:amd64 12\n"
                                            << true;
        QTest::newRow("plus signs not a repeat") << "libstdc++6"
                                                 << "ii  libstdcc6 12\n"
                                                 << false;
        QTest::newRow("dot not a wildcard") << "python3.11"
                                            << "ii  python3x11 3.11\n"
                                            << false;
    }

    void installed()
    {
        QFETCH(QString, package);
        QFETCH(QString, output);
        QFETCH(bool, expected);
        // dpkg-query exits with 1 when it knows nothing of the package.
        installFake(DPKG_QUERY, output, output.isEmpty() ? 1 : 0);

        QCOMPARE(PackageManager().isPackageInstalled(package, QLatin1String(INSTALLED_PATTERN)),
                 expected);
        const QStringList arguments = recordedArguments();
        QVERIFY(!arguments.isEmpty());
        QCOMPARE(arguments.last(), package);
    }

    // Every way the tools can fail gives the negative answer, in bounded
    // time.
    void failingPrograms_data()
    {
        QTest::addColumn<QString>("script");

        QTest::newRow("missing") << QString();
        QTest::newRow("hanging") << "#!/bin/sh\nexec sleep 30\n";
        QTest::newRow("crashing") << "#!/bin/sh\necho 'ii  kirta-upgrade 1'\n"
                                     "echo '  Candidate: 1.0'\nkill -SEGV $$\n";
        QTest::newRow("not executable") << QString();
    }

    void failingPrograms()
    {
        QFETCH(QString, script);
        if (!script.isEmpty()) {
            installScript(APT_CACHE, script);
            installScript(DPKG_QUERY, script);
        } else if (QByteArray(QTest::currentDataTag()) == "not executable") {
            QVERIFY(m_tree.writeFile(QLatin1String(APT_CACHE), QByteArray("#!/bin/sh\n")));
            QVERIFY(m_tree.writeFile(QLatin1String(DPKG_QUERY), QByteArray("#!/bin/sh\n")));
        }

        PackageManager manager;
        manager.setTimeout(SHORT_TIMEOUT_MS);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(manager.getCandidatePackageVersion(QStringLiteral("kirta-version"), {}),
                 QString());
        QVERIFY(!manager.isPackageInstalled(QStringLiteral("kirta-upgrade"),
                                            QLatin1String(INSTALLED_PATTERN)));
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
    }

    // A query that outlives its time-out is ended with all it started: its
    // process group gets SIGTERM, and SIGKILL after the grace.
    void hungQueryEndsItsGroup_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("apt-cache") << APT_CACHE;
        QTest::newRow("dpkg-query") << DPKG_QUERY;
    }

    void hungQueryEndsItsGroup()
    {
        QFETCH(QString, program);
        installScript(qPrintable(program), QLatin1String(DEAF_GROUP));
        PackageManager manager;
        manager.setTimeout(SHORT_TIMEOUT_MS);
        QElapsedTimer elapsed;
        elapsed.start();
        if (program == QLatin1String(APT_CACHE))
            QCOMPARE(manager.getCandidatePackageVersion(QStringLiteral("kirta-version"), {}),
                     QString());
        else
            QVERIFY(!manager.isPackageInstalled(QStringLiteral("kirta-upgrade"),
                                                QLatin1String(INSTALLED_PATTERN)));
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        const qint64 child = m_tree.readFile(QStringLiteral("/child")).trimmed().toLongLong();
        QVERIFY(child > 0);
        QVERIFY(!ProcessInfo::of(child).isAlive());
    }
};

QTEST_GUILESS_MAIN(TestPackageManager)
#include "tst_packagemanager.moc"
