// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "daemontestpeer.h"
#include "sandbox.h"

#include <QtTest>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString CONFIG = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
}

// Extra repositories, the derived policy, its file and the package-tool
// options.
class TestRepositories : public QObject
{
    Q_OBJECT

    SandboxTree tree;
    QTemporaryDir lists; // extra list files live outside the sandbox, as written in the file

    QString list(const QString &relative) const { return lists.path() + '/' + relative; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(lists.isValid());
        QVERIFY(QDir().mkpath(list("a")));
        QVERIFY(QDir().mkpath(list("b")));
        QVERIFY(QDir().mkpath(list("dir.list")));
        QVERIFY(QDir().mkpath(list("c")));
        for (const char *name : {"a/one.list", "a/two.list", "b/one.list", "c/nobody.list",
                                 "c/group.list", "c/other.list"}) {
            QFile file(list(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("deb file:/srv/") + name + " stable main\n");
        }
        const auto readWrite = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(list("c/group.list"), readWrite | QFile::WriteGroup));
        QVERIFY(QFile::setPermissions(list("c/other.list"), readWrite | QFile::WriteOther));
        QVERIFY(::chown(QFile::encodeName(list("c/nobody.list")).constData(), 65534, 65534) == 0);

        // Lists of the test's own in directories others may or may not
        // change, and links to good lists.
        for (const char *dir : {"foreign", "open", "sticky", "links"})
            QVERIFY(QDir().mkpath(list(dir)));
        for (const char *name : {"foreign/mine.list", "open/mine.list", "sticky/mine.list"}) {
            QFile file(list(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("deb file:/srv/") + name + " stable main\n");
        }
        QVERIFY(::chown(QFile::encodeName(list("foreign")).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(list("open")).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(list("sticky")).constData(), 01777) == 0);
        QVERIFY(QFile::link(list("a/one.list"), list("links/own.list")));
        QVERIFY(QFile::link(list("a/one.list"), list("links/foreign.list")));
        QVERIFY(::lchown(QFile::encodeName(list("links/foreign.list")).constData(), 65534, 65534)
                == 0);
        QVERIFY(QFile::link(list("foreign/mine.list"), list("links/to-foreign-directory.list")));
    }

    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.mkpath(QStringLiteral("/var/log/kirta-update-service")));
        QVERIFY(tree.mkpath(QStringLiteral("/var/cache/kirta-update-service")));
    }

    void policy_data()
    {
        QTest::addColumn<QString>("extraRepos");
        QTest::addColumn<QString>("extraPolicy"); // empty: key absent
        QTest::addColumn<QString>("useSourcesListD");
        QTest::addColumn<int>("policy");
        QTest::addColumn<QStringList>("repos");
        QTest::addColumn<QStringList>("sources"); // file names, then first line of each

        const QString one = list("a/one.list");
        const QString two = list("a/two.list");
        const QString otherOne = list("b/one.list");
        const QStringList none;

        QTest::newRow("no extras, own parts off")
                << ""
                << "0"
                << "0" << toInt(ReposPolicy::MainListOnly) << none << none;
        QTest::newRow("no extras, own parts on")
                << ""
                << "1"
                << "1" << toInt(ReposPolicy::ToolDefaults) << none << none;
        QTest::newRow("only commas") << ",,,"
                                     << "0"
                                     << "1" << toInt(ReposPolicy::ToolDefaults) << none << none;
        QTest::newRow("extras instead of system lists")
                << one << "0"
                << "1" << toInt(ReposPolicy::ExtraOnly) << QStringList {one}
                << QStringList {"one.list"};
        QTest::newRow("extras beside the main list")
                << one << "1"
                << "0" << toInt(ReposPolicy::MainAndExtra) << QStringList {one}
                << QStringList {"one.list"};
        QTest::newRow("unknown extra policy keeps the previous value")
                << one << "7"
                << "1" << toInt(ReposPolicy::MainListOnly) << QStringList {one}
                << QStringList {"one.list"};
        QTest::newRow("all extras missing fall back")
                << list("a/missing.list") + "," + list("nowhere/x.list") << "0"
                << "1" << toInt(ReposPolicy::ToolDefaults) << none << none;
        QTest::newRow("duplicates, blanks, empty pieces, missing files")
                << " " + one + " ,," + one + "," + list("a/missing.list") + "," + two << "0"
                << "0" << toInt(ReposPolicy::ExtraOnly) << QStringList {one, two}
                << QStringList {"one.list", "two.list"};
        QTest::newRow("same file name: first one wins")
                << one + "," + otherOne << "1"
                << "1" << toInt(ReposPolicy::MainAndExtra) << QStringList {one, otherOne}
                << QStringList {"one.list"};
        QTest::newRow("a directory is not a list file")
                << list("dir.list") << "0"
                << "1" << toInt(ReposPolicy::ToolDefaults) << none << none;
        // Installed from as root: a list another user can change is not used.
        QTest::newRow("lists others can change are refused")
                << list("c/nobody.list") + "," + list("c/group.list") + "," + list("c/other.list")
                           + "," + one
                << "0"
                << "1" << toInt(ReposPolicy::ExtraOnly) << QStringList {one}
                << QStringList {"one.list"};
        // The directories above a list count as well, and a link counts
        // as the link and as what it leads to.
        QTest::newRow("lists in directories others can change are refused")
                << list("foreign/mine.list") + "," + list("open/mine.list") + ","
                           + list("sticky/mine.list")
                << "0"
                << "1" << toInt(ReposPolicy::ExtraOnly) << QStringList {list("sticky/mine.list")}
                << QStringList {"mine.list"};
        QTest::newRow("links judged by the link and its target")
                << list("links/foreign.list") + "," + list("links/to-foreign-directory.list") + ","
                           + list("links/own.list")
                << "0"
                << "1" << toInt(ReposPolicy::ExtraOnly) << QStringList {list("links/own.list")}
                << QStringList {"own.list"};
        QTest::newRow("own parts value passed through") << ""
                                                        << "0"
                                                        << "5" << 5 << none << none;
    }

    void policy()
    {
        QFETCH(QString, extraRepos);
        QFETCH(QString, extraPolicy);
        QFETCH(QString, useSourcesListD);
        QFETCH(int, policy);
        QFETCH(QStringList, repos);
        QFETCH(QStringList, sources);

        // A stale file in the sources directory must go.
        QVERIFY(tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/sources/stale.list"),
                               QStringLiteral("deb old\n")));
        QVERIFY(tree.writeFile(CONFIG, QStringLiteral("Extra_repos=%1\nExtra_repos_policy=%2\n"
                                                      "Use_sources_list_d=%3\n")
                                               .arg(extraRepos, extraPolicy, useSourcesListD)));
        // The policy file is replaced, never rewritten in place: whoever has
        // the old one open keeps reading it whole.
        QVERIFY(tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/repos_policy"),
                               QStringLiteral("9")));
        QFile held(tree.path(QStringLiteral("/var/cache/kirta-update-service/repos_policy")));
        QVERIFY(held.open(QIODevice::ReadOnly));
        Daemon daemon;
        DaemonTestPeer peer(daemon);
        daemon.loadSettings(false);
        QCOMPARE(held.readAll(), QByteArray("9"));

        QCOMPARE(peer.extraRepos(), repos);
        QCOMPARE(tree.readFile(QStringLiteral("/var/cache/kirta-update-service/repos_policy")),
                 QString::number(policy));
        QVERIFY(QFileInfo(SOURCES_DIR).isDir());
        QCOMPARE(QDir(SOURCES_DIR).entryList(QDir::Files, QDir::Name), sources);
        // Each copy holds what the first list of its name says (through a
        // link: the list it leads to).
        const QString root = QFileInfo(lists.path()).canonicalFilePath() + '/';
        for (const QString &name : sources) {
            const auto first = std::find_if(repos.cbegin(), repos.cend(), [&](const QString &repo) {
                return QFileInfo(repo).fileName() == name;
            });
            QVERIFY(first != repos.cend());
            const QString relative = QFileInfo(*first).canonicalFilePath().remove(0, root.size());
            QCOMPARE(tree.readFile("/var/cache/kirta-update-service/sources/" + name),
                     "deb file:/srv/" + relative + " stable main\n");
        }
    }

    void policyCarriesOverReloads()
    {
        const QString one = list("a/one.list");
        QVERIFY(tree.writeFile(CONFIG, "Extra_repos=" + one + "\nExtra_repos_policy=1\n"));
        const auto policyFile = [this] {
            return tree.readFile(QStringLiteral("/var/cache/kirta-update-service/repos_policy"));
        };
        Daemon daemon;
        daemon.loadSettings(false);
        QCOMPARE(policyFile(), QString::number(toInt(ReposPolicy::MainAndExtra)));
        QVERIFY(tree.writeFile(CONFIG, "Extra_repos=" + one + "\nExtra_repos_policy=5\n"));
        daemon.loadSettings(true);
        QCOMPARE(policyFile(), QString::number(toInt(ReposPolicy::MainAndExtra)));
    }

    void argsForRepos_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("0") << toInt(ReposPolicy::MainListOnly)
                           << QStringList {"-o", "Dir::Etc::sourceparts=''"};
        QTest::newRow("1") << toInt(ReposPolicy::ToolDefaults) << QStringList {};
        QTest::newRow("2") << toInt(ReposPolicy::ExtraOnly)
                           << QStringList {"-o", "Dir::Etc::sourceparts=" + SOURCES_DIR, "-o",
                                           "Dir::Etc::sourcelist=''"};
        QTest::newRow("3") << toInt(ReposPolicy::MainAndExtra)
                           << QStringList {"-o", "Dir::Etc::sourceparts=" + SOURCES_DIR};
        QTest::newRow("4") << 4 << QStringList {};
        QTest::newRow("-1") << -1 << QStringList {};
    }

    void argsForRepos()
    {
        QFETCH(int, policy);
        QFETCH(QStringList, args);
        Daemon daemon;
        QCOMPARE(daemon.getArgsForRepos(policy), args);
    }

    void negativePolicyFile()
    {
        QVERIFY(tree.writeFile(CONFIG, QStringLiteral("Use_sources_list_d=-3\n")));
        Daemon daemon;
        daemon.loadSettings(false);
        QCOMPARE(tree.readFile(QStringLiteral("/var/cache/kirta-update-service/repos_policy")),
                 QStringLiteral("-3"));
    }
};

QTEST_GUILESS_MAIN(TestRepositories)
#include "tst_repositories.moc"
