// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "arming.h"
#include "logger.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

// The arming part through its own interface, on files of a scratch
// directory: what each step finds in place of the link and the stamp, the
// answer it gives and what the boot would then see; the frozen
// configuration's round trip; the status file the activation tool reads.

class TestArmingPart : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logPath;

    QString at(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    Arming::Paths paths() const
    {
        return {at("system-update"),    at("packages"),    at("stamp"), at("daemon.conf"),
                at("daemon.conf.copy"), at("parked.conf"), at("status")};
    }

    static bool write(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
               && file.write(content) == content.size();
    }

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir dir(m_dir.path());
        for (const QString &name :
             dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            const QFileInfo info(dir.filePath(name));
            if (info.isDir() && !info.isSymLink())
                QVERIFY(QDir(info.filePath()).removeRecursively());
            else
                QVERIFY(QFile::remove(info.filePath()));
        }
        QVERIFY(dir.mkdir(QStringLiteral("packages")));
        m_logPath = at("log");
    }

    // What is at the link's name before arming, the answer, whether the
    // boot would then upgrade, and that a failure names the path.
    void placeLink_data()
    {
        QTest::addColumn<QString>("before"); // nothing, link, dangling, file, directory
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("linkAfter");

        QTest::newRow("nothing there") << "nothing" << int(ArmLink::Created) << true;
        QTest::newRow("our link") << "link" << int(ArmLink::Kept) << true;
        // A dangling link does not "exist", yet takes the name.
        QTest::newRow("dangling link") << "dangling" << int(ArmLink::CreateFailed) << false;
        QTest::newRow("a file in the way") << "file" << int(ArmLink::Replaced) << true;
        QTest::newRow("a directory stays") << "directory" << int(ArmLink::RemoveFailed) << false;
    }

    void placeLink()
    {
        QFETCH(QString, before);
        QFETCH(int, code);
        QFETCH(bool, linkAfter);
        const Arming::Paths p = paths();
        if (before == QLatin1String("link"))
            QVERIFY(QFile::link(p.linkTarget, p.link));
        else if (before == QLatin1String("dangling"))
            QVERIFY(QFile::link(at("gone"), p.link));
        else if (before == QLatin1String("file"))
            QVERIFY(write(p.link, "not a link"));
        else if (before == QLatin1String("directory"))
            QVERIFY(QDir().mkpath(p.link + QStringLiteral("/inside")));

        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        const Arming::Outcome<ArmLink> outcome = arming.placeLink(QStringLiteral("test"));
        QCOMPARE(int(outcome.code), code);
        QCOMPARE(outcome.failure.isEmpty(), code <= int(ArmLink::Replaced));
        if (!outcome.failure.isEmpty())
            QVERIFY2(outcome.failure.startsWith(p.link + QStringLiteral(": ")),
                     qPrintable(outcome.failure));
        const QFileInfo link(p.link);
        QCOMPARE(link.isSymLink() && link.symLinkTarget() == p.linkTarget, linkAfter);
        QVERIFY(QFileInfo(p.linkTarget).isDir());
        QVERIFY(write(p.stamp, ""));
        QCOMPARE(arming.isArmedOnDisk(QStringLiteral("test")), linkAfter);
        if (before == QLatin1String("directory"))
            QVERIFY(QFile::exists(p.link + QStringLiteral("/inside")));
    }

    // Arming then disarming leaves nothing behind and never touches the
    // packages the link points to; a second round finds it all done.
    void armAndDisarm()
    {
        const Arming::Paths p = paths();
        QVERIFY(write(p.linkTarget + QStringLiteral("/a.deb"), "package"));
        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        const QStringList listing {QStringLiteral("bash 5.2"), QStringLiteral("curl 8.1")};

        QCOMPARE(arming.placeLink(QString()).code, ArmLink::Created);
        QCOMPARE(arming.placeStamp(listing, QString()).code, StampPart::Changed);
        QCOMPARE(read(p.stamp), QByteArray("bash 5.2\ncurl 8.1"));
        QCOMPARE(arming.placeStamp({QStringLiteral("other")}, QString()).code,
                 StampPart::AlreadySo);
        QCOMPARE(read(p.stamp), QByteArray("bash 5.2\ncurl 8.1"));
        QVERIFY(arming.isArmedOnDisk(QString()));
        QVERIFY(!arming.isClearOnDisk());

        QCOMPARE(arming.removeLink(QString()).code, DisarmLink::Removed);
        QCOMPARE(arming.removeStamp(QString()).code, StampPart::Changed);
        QVERIFY(arming.isClearOnDisk());
        QCOMPARE(read(p.linkTarget + QStringLiteral("/a.deb")), QByteArray("package"));
        QCOMPARE(arming.removeLink(QString()).code, DisarmLink::Absent);
        QCOMPARE(arming.removeStamp(QString()).code, StampPart::AlreadySo);
    }

    // The frozen configuration: thawed as it is (an edit meanwhile is
    // signalled before the copy goes), or put back in place of the edit.
    void frozenConfiguration_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<bool>("restore"); // put the copy back instead of dropping it
        QTest::addColumn<bool>("originalMissing");
        QTest::addColumn<QByteArray>("configAfter");
        QTest::addColumn<int>("changedSignals");

        QTest::newRow("thaw unchanged")
                << false << false << false << QByteArray("T_check=5\n") << 0;
        QTest::newRow("thaw edited") << true << false << false << QByteArray("T_check=9\n") << 1;
        QTest::newRow("restore over an edit")
                << true << true << false << QByteArray("T_check=5\n") << 0;
        QTest::newRow("restore after a cut-off restore")
                << false << true << true << QByteArray("T_check=5\n") << 0;
    }

    void frozenConfiguration()
    {
        QFETCH(bool, edited);
        QFETCH(bool, restore);
        QFETCH(bool, originalMissing);
        QFETCH(QByteArray, configAfter);
        QFETCH(int, changedSignals);
        const Arming::Paths p = paths();
        QVERIFY(write(p.settings, "T_check=5\n"));
        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        QSignalSpy changed(&arming, &Arming::originalChanged);

        QCOMPARE(arming.freeze(QString()), QString());
        QVERIFY(arming.hasFrozenCopy());
        if (edited)
            QVERIFY(write(p.settings, "T_check=9\n"));
        if (originalMissing)
            QVERIFY(QFile::remove(p.settings));
        if (restore) {
            QVERIFY(arming.restore(QString()));
        } else {
            QCOMPARE(arming.thaw(QString()),
                     edited ? Arming::Thaw::RemovedChanged : Arming::Thaw::Removed);
        }
        QCOMPARE(read(p.settings), configAfter);
        QCOMPARE(changed.count(), changedSignals);
        QVERIFY(!arming.hasFrozenCopy());
        QVERIFY(!QFile::exists(p.settingsParking));
        QCOMPARE(arming.thaw(QString()), Arming::Thaw::NoCopy);
        QVERIFY(!arming.restore(QString()));
    }

    // A restore whose parking place is taken fails and leaves the
    // configuration and the copy where they were.
    void restoreRefusesATakenParkingPlace()
    {
        const Arming::Paths p = paths();
        QVERIFY(write(p.settings, "T_check=5\n"));
        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        QCOMPARE(arming.freeze(QString()), QString());
        QVERIFY(write(p.settings, "T_check=9\n"));
        QVERIFY(write(p.settingsParking, "someone else's"));
        QVERIFY(!arming.restore(QString()));
        QCOMPARE(read(p.settings), QByteArray("T_check=9\n"));
        QCOMPARE(read(p.settingsParking), QByteArray("someone else's"));
        QVERIFY(arming.hasFrozenCopy());
    }

    void freezeFailureNamesThePath()
    {
        const Arming::Paths p = paths();
        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        const QString failure = arming.freeze(QString());
        QVERIFY2(failure.startsWith(p.settings + QStringLiteral(": ")), qPrintable(failure));
        QVERIFY(!arming.hasFrozenCopy());
    }

    void statusFile_data()
    {
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<QString>("release");
        QTest::addColumn<QString>("status"); // empty: no file

        QTest::newRow("downloading") << false << false << "1.2" << QString();
        QTest::newRow("ready") << true << false << "1.2"
                               << "ready";
        QTest::newRow("activated") << true << true << "1.2"
                                   << "activated";
        QTest::newRow("no release known") << true << true << QString() << "activated";
    }

    void statusFile()
    {
        QFETCH(bool, complete);
        QFETCH(bool, armed);
        QFETCH(QString, release);
        QFETCH(QString, status);
        const Arming::Paths p = paths();
        // A stale file from an earlier cycle.
        QVERIFY(write(p.status, "[General]\nstatus=activated\n"));
        const Logger logger(m_logPath, Logger::Debug);
        Arming arming(logger, p);
        QCOMPARE(arming.writeStatus(complete, armed, release, QString()), QString());
        QCOMPARE(QFile::exists(p.status), !status.isEmpty());
        if (status.isEmpty())
            return;
        const QSettings file(p.status, QSettings::NativeFormat);
        QCOMPARE(file.value(QStringLiteral("status")).toString(), status);
        QCOMPARE(file.value(QStringLiteral("target_release")).toString(), release);
    }
};

QTEST_GUILESS_MAIN(TestArmingPart)
#include "tst_armingpart.moc"
