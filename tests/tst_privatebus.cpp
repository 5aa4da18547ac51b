// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "privatebus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

// The private bus every bus test stands on: it must come up wherever the
// checkout and TMPDIR lie, and leave nothing behind.

class TestPrivateBus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAndCleansUp_data()
    {
        QTest::addColumn<bool>("deepTmpdir");
        QTest::newRow("TMPDIR as it is") << false;
        // Longer than any unix socket path may be.
        QTest::newRow("TMPDIR deeper than a socket path may be") << true;
    }

    void startsAndCleansUp()
    {
        QFETCH(bool, deepTmpdir);
        const QByteArray oldTmpdir = qgetenv("TMPDIR");
        const bool hadTmpdir = qEnvironmentVariableIsSet("TMPDIR");
        const auto restoreTmpdir = qScopeGuard([&] {
            if (hadTmpdir)
                qputenv("TMPDIR", oldTmpdir);
            else
                qunsetenv("TMPDIR");
        });
        QString deep;
        if (deepTmpdir) {
            deep = qEnvironmentVariable("KIRTA_SYSROOT") + QStringLiteral("/tmp/")
                   + QString(120, QLatin1Char('d'));
            QVERIFY(QDir().mkpath(deep));
            qputenv("TMPDIR", QFile::encodeName(deep));
        }
        qunsetenv("KIRTA_TEST_ADDRESS");

        QString socketDir;
        {
            PrivateBus bus("KIRTA_TEST_ADDRESS");
            QVERIFY2(bus.start(), qPrintable(bus.errorString()));
            QCOMPARE(qEnvironmentVariable("KIRTA_TEST_ADDRESS"), bus.address());
            const QRegularExpressionMatch dir
                    = QRegularExpression(QStringLiteral("^unix:path=(/tmp/kirta-bus\\.[^/,]+)/"))
                              .match(bus.address());
            QVERIFY2(dir.hasMatch(), qPrintable(bus.address()));
            socketDir = dir.captured(1);

            QDBusConnection connection
                    = QDBusConnection::connectToBus(bus.address(), QStringLiteral("probe"));
            QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
            QVERIFY(connection.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.DBus")));
            QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
        }
        QVERIFY2(!QFileInfo::exists(socketDir), qPrintable(socketDir));
        QVERIFY(!qEnvironmentVariableIsSet("KIRTA_TEST_ADDRESS"));
        if (deepTmpdir)
            QVERIFY(QDir(deep).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(TestPrivateBus)
#include "tst_privatebus.moc"
