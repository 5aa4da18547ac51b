// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "logger.h"
#include "sandbox.h"
#include "updatevalidatormanager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const char *const DIR = "/etc/kirta-update-service/validators.d";
const char *const RECORD = "/record";
const char *const LOG = "/var/log/validators.log";
const int SHORT_TIMEOUT_MS = 1000;
const int BOUND_MS = 10000;
} // namespace

class TestValidators : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;
    const QStringList m_options
            = {QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceParts=/a b")};

    QString validatorPath(const QString &name) const
    {
        return QLatin1String(DIR) + QLatin1Char('/') + name;
    }

    // A validator that appends its name and arguments to the record file,
    // then runs `tail` (exit 0 by default).
    void addValidator(const QString &name, const QString &tail = QString(), bool executable = true)
    {
        const QString script = QStringLiteral("#!/bin/sh\n"
                                              "echo \"%1 $*\" >> '%2'\n"
                                              "%3\n")
                                       .arg(name, m_tree.path(QLatin1String(RECORD)), tail);
        QVERIFY(m_tree.writeFile(validatorPath(name), script));
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(m_tree.path(validatorPath(name)), permissions));
    }

    QStringList record() const
    {
        QStringList lines = m_tree.readFile(QLatin1String(RECORD)).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    UpdateValidatorManager manager() const
    {
        UpdateValidatorManager validators(
                std::make_shared<Logger>(m_tree.path(QLatin1String(LOG)), Logger::Debug),
                m_options);
        validators.setTimeout(SHORT_TIMEOUT_MS);
        return validators;
    }

private Q_SLOTS:
    void init() { QVERIFY2(m_tree.reset(), qPrintable(m_tree.root())); }

    void noOrEmptyDirectoryPasses()
    {
        QVERIFY(!m_tree.exists(QLatin1String(DIR)));
        QVERIFY(manager().check());
        QVERIFY(m_tree.mkpath(QLatin1String(DIR)));
        QVERIFY(manager().check());
    }

    void runsExecutablesInNameOrder()
    {
        addValidator(QStringLiteral("20-b"));
        addValidator(QStringLiteral("05-c"));
        addValidator(QStringLiteral("10-a"));
        addValidator(QStringLiteral(".hidden"), QStringLiteral("exit 1"));
        addValidator(QStringLiteral("15-plain"), QStringLiteral("exit 1"), false);
        QVERIFY(m_tree.mkpath(validatorPath(QStringLiteral("12-directory"))));

        QVERIFY(manager().check());
        const QString args = m_options.join(QLatin1Char(' '));
        QCOMPARE(record(),
                 QStringList({QStringLiteral("05-c ") + args, QStringLiteral("10-a ") + args,
                              QStringLiteral("20-b ") + args}));
    }

    // The first refusal ends the check; the validators after it do not run.
    void refusals_data()
    {
        QTest::addColumn<QString>("tail"); // null: a script whose interpreter is missing
        QTest::addColumn<QString>("reason");

        QTest::newRow("exit code") << "echo 'no network' >&2; exit 3"
                                   << "exit code 3 (no network)";
        QTest::newRow("crash") << "kill -KILL $$"
                               << "crashed";
        QTest::newRow("hang") << "exec sleep 30"
                              << "no answer within 1000 ms, killed";
        QTest::newRow("cannot start") << QString() << "cannot start";
    }

    void refusals()
    {
        QFETCH(QString, tail);
        QFETCH(QString, reason);
        const QString refuser = QStringLiteral("50-refuser");
        addValidator(QStringLiteral("10-fine"));
        addValidator(refuser, tail);
        if (tail.isNull())
            QVERIFY(m_tree.writeFile(validatorPath(refuser),
                                     QByteArray("#!/nonexistent/interpreter\n")));
        addValidator(QStringLiteral("90-later"));

        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!manager().check());
        QVERIFY(elapsed.elapsed() < BOUND_MS);

        const QString args = m_options.join(QLatin1Char(' '));
        QStringList ran {QStringLiteral("10-fine ") + args};
        if (!tail.isNull())
            ran << refuser + QLatin1Char(' ') + args;
        QCOMPARE(record(), ran);
        const QString log = m_tree.readFile(QLatin1String(LOG));
        QVERIFY2(log.contains(QStringLiteral("Validator 50-refuser refused the update: ") + reason),
                 qPrintable(log));
    }

    // Backups and package-manager leftovers are skipped; files another user
    // could change are skipped with a warning, since validators run as root.
    void skipped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("owner");
        QTest::addColumn<int>("extraPermissions");
        QTest::addColumn<QString>("warning"); // empty: none
        const QString untrusted = QStringLiteral(
                "Skipping validator 50-x: not owned by root or writable by group or others");
        QTest::newRow("editor backup") << "50-x~" << 0 << 0 << "";
        QTest::newRow("dpkg-old") << "50-x.dpkg-old" << 0 << 0 << "";
        QTest::newRow("dpkg-dist") << "50-x.dpkg-dist" << 0 << 0 << "";
        QTest::newRow("ucf-old") << "50-x.ucf-old" << 0 << 0 << "";
        QTest::newRow("owned by nobody") << "50-x" << 65534 << 0 << untrusted;
        QTest::newRow("group writable") << "50-x" << 0 << int(QFile::WriteGroup) << untrusted;
        QTest::newRow("others writable") << "50-x" << 0 << int(QFile::WriteOther) << untrusted;
    }

    void skipped()
    {
        QFETCH(QString, name);
        QFETCH(int, owner);
        QFETCH(int, extraPermissions);
        QFETCH(QString, warning);
        addValidator(QStringLiteral("10-fine"));
        addValidator(name, QStringLiteral("exit 1"));
        const QString path = m_tree.path(validatorPath(name));
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path)
                                                    | QFile::Permissions(extraPermissions)));
        if (owner != 0)
            QVERIFY(::chown(QFile::encodeName(path).constData(), uid_t(owner), gid_t(owner)) == 0);

        QVERIFY(manager().check());
        QCOMPARE(record(), QStringList {QStringLiteral("10-fine ") + m_options.join(' ')});
        const QString log = m_tree.readFile(QLatin1String(LOG));
        if (!warning.isEmpty())
            QVERIFY2(log.contains(QStringLiteral("WARNING ") + warning), qPrintable(log));
    }

    // A link counts as the link and as what it leads to; the directory and
    // those above it count as well, and an unfit one runs none of them.
    void linksAndDirectories_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("ran");
        QTest::addColumn<QString>("warning"); // empty: none
        const QString fine = QStringLiteral("10-fine");
        const QString linked = QStringLiteral("50-linked");
        const QString refusedLink = QStringLiteral(
                "Skipping validator 50-linked: not owned by root or writable by group or others");
        const QString refusedDir = QStringLiteral("Skipping the validators in ");
        QTest::newRow("own link to a fit validator")
                << "own link" << QStringList {fine, linked} << QString();
        QTest::newRow("link owned by another account")
                << "foreign link" << QStringList {fine} << refusedLink;
        QTest::newRow("link into a directory others can write")
                << "link into open directory" << QStringList {fine} << refusedLink;
        QTest::newRow("directory writable by group")
                << "group-writable directory" << QStringList() << refusedDir;
        QTest::newRow("directory owned by another account")
                << "foreign directory" << QStringList() << refusedDir;
        QTest::newRow("directory above owned by another account")
                << "foreign parent" << QStringList() << refusedDir;
        QTest::newRow("directory is a link owned by another account")
                << "foreign directory link" << QStringList() << refusedDir;
    }

    void linksAndDirectories()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, ran);
        QFETCH(QString, warning);
        const auto chownPath = [this](const QString &absolute, bool link) {
            const QByteArray name = QFile::encodeName(m_tree.path(absolute));
            return (link ? ::lchown(name.constData(), 65534, 65534)
                         : ::chown(name.constData(), 65534, 65534))
                   == 0;
        };
        const QString dir = QLatin1String(DIR);
        if (setup == QLatin1String("foreign directory link")) {
            QVERIFY(m_tree.mkpath(QStringLiteral("/srv/validators.d")));
            QVERIFY(QFile::link(m_tree.path(QStringLiteral("/srv/validators.d")),
                                m_tree.path(dir)));
            QVERIFY(chownPath(dir, true));
        }
        addValidator(QStringLiteral("10-fine"));
        if (setup == QLatin1String("own link") || setup == QLatin1String("foreign link")
            || setup == QLatin1String("link into open directory")) {
            // The validator itself lives elsewhere; its own mode is fit.
            const QString target = setup == QLatin1String("link into open directory")
                                           ? QStringLiteral("/srv/open/50-linked")
                                           : QStringLiteral("/srv/50-linked");
            QVERIFY(m_tree.writeFile(target, QStringLiteral("#!/bin/sh\necho \"50-linked $*\" "
                                                            ">> '%1'\n")
                                                     .arg(m_tree.path(QLatin1String(RECORD)))));
            QVERIFY(::chmod(QFile::encodeName(m_tree.path(target)).constData(), 0755) == 0);
            if (setup == QLatin1String("link into open directory"))
                QVERIFY(::chmod(QFile::encodeName(m_tree.path(QStringLiteral("/srv/open")))
                                        .constData(),
                                0777)
                        == 0);
            QVERIFY(QFile::link(m_tree.path(target),
                                m_tree.path(validatorPath(QStringLiteral("50-linked")))));
            if (setup == QLatin1String("foreign link"))
                QVERIFY(chownPath(validatorPath(QStringLiteral("50-linked")), true));
        }
        if (setup == QLatin1String("group-writable directory"))
            QVERIFY(::chmod(QFile::encodeName(m_tree.path(dir)).constData(), 0775) == 0);
        if (setup == QLatin1String("foreign directory"))
            QVERIFY(chownPath(dir, false));
        if (setup == QLatin1String("foreign parent"))
            QVERIFY(chownPath(QStringLiteral("/etc/kirta-update-service"), false));

        QVERIFY(manager().check());
        const QString args = m_options.join(QLatin1Char(' '));
        QStringList expected;
        for (const QString &name : ran)
            expected << name + QLatin1Char(' ') + args;
        QCOMPARE(record(), expected);
        const QString log = m_tree.readFile(QLatin1String(LOG));
        if (warning.isEmpty())
            QVERIFY2(!log.contains(QLatin1String("WARNING")), qPrintable(log));
        else
            QVERIFY2(log.contains(QStringLiteral("WARNING ") + warning), qPrintable(log));
    }

    void worksWithoutLogger()
    {
        addValidator(QStringLiteral("10-refuser"), QStringLiteral("exit 1"));
        QVERIFY(!UpdateValidatorManager(nullptr, {}).check());
    }
};

QTEST_GUILESS_MAIN(TestValidators)
#include "tst_validators.moc"
