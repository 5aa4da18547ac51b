// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "lvmsnapshots.h"
#include "processinfo.h"
#include "sandbox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace {
const char *const LVS = "/usr/sbin/lvs";
const int SHORT_TIMEOUT_MS = 1000;
const int BOUND_MS = 10000;

QStringList takeNames(char **array)
{
    QStringList names;
    for (char **entry = array; entry && *entry; ++entry)
        names << QString::fromLocal8Bit(*entry);
    free_existing_lvm_snapshots(array);
    return names;
}
} // namespace

class TestLvmSnapshots : public QObject
{
    Q_OBJECT

private:
    SandboxTree m_tree;

    void installLvs(const QString &output, int exitCode)
    {
        QVERIFY(m_tree.writeFile(QStringLiteral("/lvs.out"), output));
        installScript(QStringLiteral("#!/bin/sh\ncat '%1'\nexit %2\n")
                              .arg(m_tree.path(QStringLiteral("/lvs.out")))
                              .arg(exitCode));
    }

    void installScript(const QString &script)
    {
        QVERIFY(m_tree.writeFile(QLatin1String(LVS), script));
        QVERIFY(QFile::setPermissions(m_tree.path(QLatin1String(LVS)),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private Q_SLOTS:
    void initTestCase() { set_lvm_query_timeout(SHORT_TIMEOUT_MS); }
    void init() { QVERIFY2(m_tree.reset(), qPrintable(m_tree.root())); }

    void listings_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode"); // -1: `output` is the whole program, "" none
        QTest::addColumn<QStringList>("names");
        // "name=percent" for names given to lvm_snapshot_filling_percent().
        QTest::addColumn<QStringList>("percents");

        const QString volumes = QStringLiteral("  vg0|root|owi-aos---|||\n"
                                               "  vg0|home|-wi-ao----|||\n");
        QTest::newRow("no snapshots")
                << volumes << 0 << QStringList() << QStringList {"vg0/root=0", "root=0"};
        QTest::newRow("nothing at all") << "" << 0 << QStringList() << QStringList {"vg0/x=0"};
        QTest::newRow("some snapshots")
                << volumes
                           + "  vg0|pre-upgrade|swi-a-s---|root|12.50\n"
                             "  vg1|thin-snap|Vwi---tz-k|thin-origin|\n"
                             "  vg1|overflowed|Swi-I-s---|root|\n"
                << 0 << QStringList {"vg0/pre-upgrade", "vg1/thin-snap", "vg1/overflowed"}
                << QStringList {"vg0/pre-upgrade=12", "pre-upgrade=12",
                                "vg1/thin-snap=0",    "vg1/overflowed=100",
                                "vg0/home=0",         "vg9/pre-upgrade=0",
                                "missing=0",          "=0"};
        QTest::newRow("decimals round down")
                << "  vg|a|swi-a-s---|o|99.99\n  vg|b|swi-a-s---|o|100.00\n"
                   "  vg|c|swi-a-s---|o|0.01\n  vg|d|swi-a-s---|o|7\n"
                << 0 << QStringList {"vg/a", "vg/b", "vg/c", "vg/d"}
                << QStringList {"vg/a=99", "vg/b=100", "vg/c=0", "vg/d=7"};
        QTest::newRow("odd percent values")
                << "  vg|a|swi-a-s---|o|n/a\n  vg|b|swi-a-s---|o|-3\n  vg|c|swi-a-s---|o|250\n"
                << 0 << QStringList {"vg/a", "vg/b", "vg/c"}
                << QStringList {"vg/a=0", "vg/b=0", "vg/c=100"};
        QTest::newRow("garbage") << "  WARNING: something odd\nvg0 snap swi-a-s--- 40\n"
                                 << 0 << QStringList() << QStringList {"vg0/snap=0", "snap=0"};
        QTest::newRow("failing lvs") << "  vg0|snap|swi-a-s---|root|40.00\n"
                                     << 5 << QStringList() << QStringList {"vg0/snap=0"};
        // Programs that give no answer at all, in bounded time.
        QTest::newRow("missing lvs") << "" << -1 << QStringList() << QStringList {"vg0/snap=0"};
        QTest::newRow("hanging lvs") << "#!/bin/sh\nexec sleep 30\n"
                                     << -1 << QStringList() << QStringList {"vg0/snap=0"};
        QTest::newRow("crashing lvs") << "#!/bin/sh\necho '  vg0|snap|swi-a-s---|root|100.00'\n"
                                         "kill -SEGV $$\n"
                                      << -1 << QStringList() << QStringList {"vg0/snap=0"};
    }

    void listings()
    {
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QStringList, names);
        QFETCH(QStringList, percents);
        if (exitCode >= 0)
            installLvs(output, exitCode);
        else if (!output.isEmpty())
            installScript(output);

        QElapsedTimer elapsed;
        elapsed.start();
        char **array = existing_lvm_snapshots();
        QCOMPARE(array == nullptr, names.isEmpty());
        QCOMPARE(takeNames(array), names);

        for (const QString &entry : percents) {
            const QString name = entry.section(QLatin1Char('='), 0, 0);
            const unsigned int expected = entry.section(QLatin1Char('='), 1).toUInt();
            QCOMPARE(lvm_snapshot_filling_percent(name.toLocal8Bit().constData()), expected);
        }
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
    }

    // The daemon hands back exactly what it was given.
    void namesGoBackUnchanged()
    {
        installLvs(QStringLiteral("  vg0|snap|swi-a-s---|root|64.20\n"), 0);
        char **array = existing_lvm_snapshots();
        QVERIFY(array && array[0] && !array[1]);
        QCOMPARE(lvm_snapshot_filling_percent(array[0]), 64u);
        free_existing_lvm_snapshots(array);
        QCOMPARE(lvm_snapshot_filling_percent(nullptr), 0u);
        free_existing_lvm_snapshots(nullptr);
    }

    // An lvs that outlives the time-out is ended with all it started: its
    // process group gets SIGTERM, and SIGKILL after the grace.
    void hungQueryEndsItsGroup()
    {
        installScript(QStringLiteral("#!/bin/sh\n"
                                     "(trap '' TERM; exec sleep 60) &\n"
                                     "echo $! > '%1'\n"
                                     "wait\n")
                              .arg(m_tree.path(QStringLiteral("/child"))));
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(existing_lvm_snapshots(), nullptr);
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        const qint64 child = m_tree.readFile(QStringLiteral("/child")).trimmed().toLongLong();
        QVERIFY(child > 0);
        QVERIFY(!ProcessInfo::of(child).isAlive());
    }
};

QTEST_GUILESS_MAIN(TestLvmSnapshots)
#include "tst_lvmsnapshots.moc"
