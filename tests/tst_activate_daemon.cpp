// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "buscontract.h"
#include "daemonprocess.h"
#include "privatebus.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QtDBus>
#include <QtTest>

namespace {
const QString SERVICE = QLatin1String(BusContract::SERVICE);
const QString PATH = QLatin1String(BusContract::PATH);
} // namespace

// kirta-activate-update against the real sandboxed daemon.
class TestActivateDaemon : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    SandboxTree tree;

    int state() const
    {
        QDBusInterface daemon(SERVICE, PATH, SERVICE, QDBusConnection::systemBus());
        const QDBusReply<int> reply = daemon.call(QStringLiteral("getCurrentStateAsInt"));
        return reply.isValid() ? reply.value() : -100;
    }

    // Runs the tool to its end; returns its exit code and fills `out`.
    int runTool(QString *out)
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KIRTA_ACTIVATE_PAUSE_MS"), QStringLiteral("50"));
        tool.setProcessEnvironment(env);
        tool.start(qEnvironmentVariable("KIRTA_BIN_DIR") + QStringLiteral("/kirta-activate-update"),
                   QStringList());
        if (!tool.waitForFinished(60000))
            return -100;
        *out = QString::fromUtf8(tool.readAllStandardOutput());
        return tool.exitCode();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(bus.start(), qPrintable(bus.errorString())); }

    void init()
    {
        QVERIFY(tree.reset());
        QVERIFY(tree.prepareDaemonCycle());
    }

    void armsReadyDownload()
    {
        for (const char *answer : {"update.exit", "is_enough_free_space.exit"})
            QVERIFY(tree.writeFile(QStringLiteral("/standin/kirta-update-service.") + answer,
                                   QByteArray("1")));
        QVERIFY(tree.setStandInOutput(QStringLiteral("apt"),
                                      QStringLiteral("Listing...\nhello/stable 2.0 amd64\n")));
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(state() == 4, 20000);

        QString out;
        QCOMPARE(runTool(&out), 0);
        QVERIFY2(out.startsWith(QStringLiteral("activating minor\n")), qPrintable(out));
        QCOMPARE(state(), 5);
        QVERIFY(QFileInfo(tree.path(QStringLiteral("/system-update"))).isSymLink());
    }

    void nothingPending()
    {
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        KIRTA_WAIT_VERIFY(state() == 1, 10000);
        QString out;
        QCOMPARE(runTool(&out), 12);
        QCOMPARE(out, QStringLiteral("bad state\n"));
    }

    void noDaemonOnTheBus()
    {
        QVERIFY(tree.writeFile(QStringLiteral("/var/cache/kirta-update-service/status"),
                               QStringLiteral("[General]\nstatus=ready\n")));
        QString out;
        QCOMPARE(runTool(&out), 30);
        QVERIFY(out.startsWith(QStringLiteral("activating minor\n")));
    }
};

QTEST_GUILESS_MAIN(TestActivateDaemon)
#include "tst_activate_daemon.moc"
