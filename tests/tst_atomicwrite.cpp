// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "atomicwrite.h"
#include "metricsfile.h"
#include "sandbox.h"
#include "statussnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString METRICS_DIR = QStringLiteral("/var/lib/node-exporter");
const QString METRICS = METRICS_DIR + QStringLiteral("/kirta.prom");
// A root-only file of the test's own, as /etc/shadow would be.
const QString VICTIM = QStringLiteral("/srv/victim");
const QByteArray SECRET = "root's secret\n";
const uid_t EXPORTER_ACCOUNT = 65534;

int modeOf(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}
} // namespace

// Files that root replaces as a whole in directories others may own: the
// metrics file and the shared writer behind it.
class TestAtomicWrite : public QObject
{
    Q_OBJECT

    SandboxTree m_tree;

    QString path(const QString &absolute) const { return m_tree.path(absolute); }

    void plantVictim()
    {
        QVERIFY(m_tree.writeFile(VICTIM, SECRET));
        QVERIFY(::chmod(QFile::encodeName(path(VICTIM)).constData(), 0600) == 0);
    }

    // What is left in `dir` besides `keep`: no temporary file may stay.
    QStringList leftovers(const QString &dir, const QString &keep) const
    {
        QStringList names = QDir(path(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                      | QDir::NoDotAndDotDot);
        names.removeAll(keep);
        return names;
    }

private Q_SLOTS:
    void init() { QVERIFY2(m_tree.reset(), qPrintable(m_tree.root())); }

    void metricsFile_data()
    {
        QTest::addColumn<QString>("planted"); // what is at the file's name: link target,
                                              // "file", "" nothing, "no directory"
        QTest::newRow("link to a root-only file") << VICTIM;
        QTest::newRow("dangling link") << QStringLiteral("/srv/created-by-root");
        QTest::newRow("file of other permissions") << QStringLiteral("file");
        QTest::newRow("nothing there") << QString();
        QTest::newRow("no directory") << QStringLiteral("no directory");
    }

    // The account that owns the collector's directory may put a link at the
    // file's name; root writes its own file there all the same, and the
    // link's target keeps its content and mode.
    void metricsFile()
    {
        QFETCH(QString, planted);
        plantVictim();
        const QString prom = path(METRICS);
        if (planted == QLatin1String("no directory")) {
            QVERIFY(!m_tree.exists(METRICS_DIR));
        } else {
            QVERIFY(m_tree.mkpath(METRICS_DIR));
            if (planted == QLatin1String("file")) {
                QVERIFY(m_tree.writeFile(METRICS, QByteArray("old\n")));
                QVERIFY(::chmod(QFile::encodeName(prom).constData(), 0600) == 0);
            } else if (!planted.isEmpty()) {
                QVERIFY(QFile::link(path(planted), prom));
            }
            // The exporter's account owns the directory, as it often does.
            if (::geteuid() == 0)
                QVERIFY(::chown(QFile::encodeName(path(METRICS_DIR)).constData(), EXPORTER_ACCOUNT,
                                EXPORTER_ACCOUNT)
                        == 0);
        }

        StatusSnapshot snapshot;
        snapshot.task = 2;
        snapshot.error = 4;
        const mode_t umask = ::umask(077);
        MetricsFile().write(METRICS, snapshot);
        ::umask(umask);

        QFileInfo written(prom);
        QVERIFY(!written.isSymLink());
        QVERIFY(written.isFile());
        QCOMPARE(m_tree.readFile(METRICS).toUtf8(), MetricsFile::render(snapshot));
        QVERIFY(m_tree.readFile(METRICS).contains(QLatin1String("\nkirta_update_error 4\n")));
        QCOMPARE(modeOf(prom), 0644);
        QCOMPARE(modeOf(path(METRICS_DIR)), 0755);
        QCOMPARE(leftovers(METRICS_DIR, QStringLiteral("kirta.prom")), QStringList());

        QCOMPARE(m_tree.readFile(VICTIM).toUtf8(), SECRET);
        QCOMPARE(modeOf(path(VICTIM)), 0600);
        QVERIFY(!m_tree.exists(QStringLiteral("/srv/created-by-root")));
    }

    // The configuration and state files keep the permissions the
    // administrator gave them; a link at the name is replaced all the same.
    void keepsModeNotLinks_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("mode");
        QTest::newRow("file of mode 0640") << false << 0640;
        QTest::newRow("link to a root-only file") << true << 0644;
    }

    void keepsModeNotLinks()
    {
        QFETCH(bool, link);
        QFETCH(int, mode);
        plantVictim();
        const QString conf = QStringLiteral("/etc/kirta-update-service/kirta-update-daemon.conf");
        if (link) {
            QVERIFY(QFile::link(path(VICTIM), path(conf)));
        } else {
            QVERIFY(m_tree.writeFile(conf, QByteArray("old\n")));
            QVERIFY(::chmod(QFile::encodeName(path(conf)).constData(), mode_t(mode)) == 0);
        }

        const mode_t umask = ::umask(022);
        QString error;
        const bool written = writeFileAtomically(path(conf), "T_check=60\n", &error);
        ::umask(umask);
        QVERIFY2(written, qPrintable(error));

        QVERIFY(!QFileInfo(path(conf)).isSymLink());
        QCOMPARE(m_tree.readFile(conf), QStringLiteral("T_check=60\n"));
        QCOMPARE(modeOf(path(conf)), mode);
        QCOMPARE(m_tree.readFile(VICTIM).toUtf8(), SECRET);
        QCOMPARE(modeOf(path(VICTIM)), 0600);
        QCOMPARE(leftovers(QStringLiteral("/etc/kirta-update-service"),
                           QStringLiteral("kirta-update-daemon.conf")),
                 QStringList());
    }

    // A write that cannot be done says why and leaves nothing behind.
    void failureLeavesNothing()
    {
        QVERIFY(m_tree.mkpath(QStringLiteral("/srv/dir/taken")));
        QString error;
        QVERIFY(!writeFileAtomically(path(QStringLiteral("/srv/dir/taken")), "x", &error));
        QVERIFY2(error.contains(QLatin1String("directory")), qPrintable(error));
        QCOMPARE(leftovers(QStringLiteral("/srv/dir"), QStringLiteral("taken")), QStringList());
        QVERIFY(!writeFileAtomically(path(QStringLiteral("/srv/missing/file")), "x", &error));
        QVERIFY2(error.contains(QLatin1String("/srv/missing")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestAtomicWrite)
#include "tst_atomicwrite.moc"
