// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include <QtTest>

// What `cmake --install` lays out for a package.
class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir destDir;

    QString installed(const QString &path) const { return destDir.path() + path; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(destDir.isValid());
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), destDir.path());
        install.setProcessEnvironment(env);
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(KIRTA_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(KIRTA_BUILD_DIR)});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    void files_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        QTest::newRow("daemon") << "/usr/sbin/kirta-update-daemon" << true;
        QTest::newRow("activation tool") << "/usr/sbin/kirta-activate-update" << true;
        QTest::newRow("stage program") << "/usr/sbin/kirta-update-service" << true;
        QTest::newRow("imitation") << "/usr/bin/kirta-update-modern" << true;
        QTest::newRow("offline upgrade") << "/usr/libexec/kirta-offline-upgrade" << true;
        QTest::newRow("daemon unit")
                << "/usr/lib/systemd/system/kirta-update-daemon.service" << false;
        QTest::newRow("activation unit")
                << "/usr/lib/systemd/system/kirta-activate-update.service" << false;
        QTest::newRow("offline unit")
                << "/usr/lib/systemd/system/kirta-offline-upgrade.service" << false;
        QTest::newRow("bus policy")
                << "/usr/share/dbus-1/system.d/os.kirtalinux.zun.kirtaupdateservice.conf" << false;
        QTest::newRow("interface")
                << "/usr/share/dbus-1/interfaces/os.kirtalinux.zun.kirtaupdateservice.xml" << false;
        QTest::newRow("status interface")
                << "/usr/share/dbus-1/interfaces/os.kirtalinux.zun.kirtaupdateservice.Status.xml"
                << false;
        QTest::newRow("polkit actions")
                << "/usr/share/polkit-1/actions/os.kirtalinux.zun.kirtaupdateservice.policy"
                << false;

        QTest::newRow("configuration")
                << "/etc/kirta-update-service/kirta-update-daemon.conf" << false;
        QTest::newRow("log rotation") << "/etc/logrotate.d/kirta-update-daemon" << false;
        QTest::newRow("command") << "/usr/bin/kirta-update-ctl" << true;
        QTest::newRow("command completion")
                << "/usr/share/bash-completion/completions/kirta-update-ctl" << false;
        QTest::newRow("notifier") << "/usr/libexec/kirta-update-notifier" << true;
        QTest::newRow("notifier autostart")
                << "/etc/xdg/autostart/kirta-update-notifier.desktop" << false;
        for (const char *page : {"man1/kirta-update-ctl.1", "man1/kirta-update-notifier.1",
                                 "man5/kirta-update-daemon.conf.5", "man8/kirta-update-daemon.8",
                                 "man8/kirta-activate-update.8", "man8/kirta-update-service.8",
                                 "man8/kirta-update-modern.8", "man8/kirta-offline-upgrade.8"})
            QTest::newRow(page) << QStringLiteral("/usr/share/man/%1").arg(QLatin1String(page))
                                << false;
    }

    void files()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(installed(path));
        QVERIFY2(info.isFile(), qPrintable(path));
        QCOMPARE(info.isExecutable(), executable);
    }

    void offlineUpgradeIsWantedBySystemUpdate()
    {
        const QFileInfo link(
                installed(QStringLiteral("/usr/lib/systemd/system/system-update.target.wants/"
                                         "kirta-offline-upgrade.service")));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(installed(QStringLiteral(
                                   "/usr/lib/systemd/system/kirta-offline-upgrade.service")))
                         .canonicalFilePath());
    }

    void daemonUnit()
    {
        QFile unit(
                installed(QStringLiteral("/usr/lib/systemd/system/kirta-update-daemon.service")));
        QVERIFY(unit.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(unit.readAll()).split('\n');
        for (const char *line : {"Type=dbus", "BusName=os.kirtalinux.zun.kirtaupdateservice",
                                 "ExecStart=/usr/sbin/kirta-update-daemon", "Restart=on-failure",
                                 "PrivateTmp=yes", "ProtectSystem=yes"})
            QVERIFY2(lines.contains(QLatin1String(line)), line);

        // A crashing daemon must reach the start limit: its restarts, spaced
        // by RestartSec, fit the burst into the interval.
        auto seconds = [&lines](const QString &key) {
            for (const QString &line : lines) {
                if (!line.startsWith(key + QLatin1Char('=')))
                    continue;
                QString value = line.mid(key.size() + 1);
                int factor = 1;
                if (value.endsWith(QLatin1String("min"))) {
                    factor = 60;
                    value.chop(3);
                } else if (value.endsWith(QLatin1Char('s'))) {
                    value.chop(1);
                }
                bool ok = false;
                const int number = value.toInt(&ok);
                return ok ? number * factor : -1;
            }
            return -1;
        };
        const int restart = seconds(QStringLiteral("RestartSec"));
        const int interval = seconds(QStringLiteral("StartLimitIntervalSec"));
        const int burst = seconds(QStringLiteral("StartLimitBurst"));
        QVERIFY(restart > 0 && burst > 0 && interval > 0);
        QVERIFY2(
                burst * restart < interval,
                qPrintable(
                        QStringLiteral("%1 x %2 s in %3 s").arg(burst).arg(restart).arg(interval)));
    }

    // systemd accepts the units; the commands are checked where they were
    // installed.
    void unitsVerify()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        QTemporaryDir unitDir;
        QVERIFY(unitDir.isValid());
        QStringList units;
        for (const char *name : {"kirta-update-daemon.service", "kirta-activate-update.service",
                                 "kirta-offline-upgrade.service"}) {
            QFile source(installed(QStringLiteral("/usr/lib/systemd/system/") + name));
            QVERIFY(source.open(QIODevice::ReadOnly));
            QString text = QString::fromUtf8(source.readAll());
            text.replace(QStringLiteral("ExecStart=/"), "ExecStart=" + destDir.path() + '/');
            QFile copy(unitDir.filePath(QLatin1String(name)));
            QVERIFY(copy.open(QIODevice::WriteOnly));
            copy.write(text.toUtf8());
            units << copy.fileName();
        }
        QProcess verify;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SYSTEMD_UNIT_PATH"), unitDir.path() + ':');
        verify.setProcessEnvironment(env);
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(analyze, QStringList {QStringLiteral("verify")} + units);
        QVERIFY(verify.waitForFinished(60000));
        const QByteArray output = verify.readAll();
        QVERIFY2(verify.exitCode() == 0 && output.trimmed().isEmpty(), output.constData());
    }

    // The activation tool only talks on the system bus: its unit is
    // confined far below systemd's "UNSAFE" (9.0 of 10 when unconfined).
    void activationUnitConfined()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        QProcess security;
        security.setProcessChannelMode(QProcess::MergedChannels);
        // The threshold is in tenths: fail above an exposure of 2.0.
        security.start(analyze,
                       {QStringLiteral("security"), QStringLiteral("--offline=true"),
                        QStringLiteral("--threshold=20"),
                        installed(QStringLiteral(
                                "/usr/lib/systemd/system/kirta-activate-update.service"))});
        QVERIFY(security.waitForFinished(60000));
        const QByteArray output = security.readAll();
        if (output.contains("--offline"))
            QSKIP("this systemd-analyze cannot judge a unit file offline");
        QVERIFY2(output.contains("Overall exposure level"), output.constData());
        QVERIFY2(security.exitCode() == 0, output.right(400).constData());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
