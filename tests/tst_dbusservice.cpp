// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "dbusservice.h"
#include "logger.h"
#include "privatebus.h"
#include "sandbox.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QtTest>

using ZunAdmin::DbusService;

namespace {
const char *const FAKE_CONNECTION = "fake-upgrade-tool";
const char *const LOG = "/var/log/dbusservice.log";
const int WAIT_MS = 5000;
} // namespace

// The major-release upgrade tool's side of the call.
class FakeUpgradeTool : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupgrade")

public:
    QList<bool> states;

public Q_SLOTS:
    void changeUpgradeState(bool enabled) { states << enabled; }
};

class TestDbusService : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;
    SandboxTree m_tree;
    FakeUpgradeTool m_tool;

    QDBusConnection fakeConnection() const
    {
        return QDBusConnection(QLatin1String(FAKE_CONNECTION));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
        QDBusConnection fake
                = QDBusConnection::connectToBus(m_bus.address(), QLatin1String(FAKE_CONNECTION));
        QVERIFY(fake.isConnected());
        QVERIFY(fake.registerObject(QLatin1String(DbusService::PATH), &m_tool,
                                    QDBusConnection::ExportAllSlots));
    }

    void init()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        m_tool.states.clear();
    }

    void cleanupTestCase() { QDBusConnection::disconnectFromBus(QLatin1String(FAKE_CONNECTION)); }

    void callReachesTheTool()
    {
        QVERIFY(fakeConnection().registerService(QLatin1String(DbusService::SERVICE)));
        DbusService service;
        QSignalSpy replies(&service, &DbusService::replyReceived);
        QVERIFY(service.changeUpgradeState(true));
        QVERIFY(service.changeUpgradeState(false));
        KIRTA_WAIT_VERIFY(replies.size() == 2, WAIT_MS);
        QCOMPARE(m_tool.states, QList<bool>({true, false}));
        QCOMPARE(replies.at(0).at(0).toBool(), true);
        QCOMPARE(replies.at(1).at(0).toBool(), true);
        QVERIFY(fakeConnection().unregisterService(QLatin1String(DbusService::SERVICE)));
    }

    void missingToolIsLogged()
    {
        QVERIFY(!fakeConnection().interface()->isServiceRegistered(
                QLatin1String(DbusService::SERVICE)));
        Logger logger(m_tree.path(QLatin1String(LOG)), Logger::Debug);
        DbusService service;
        service.setLogger(&logger);
        QSignalSpy replies(&service, &DbusService::replyReceived);
        QVERIFY(service.changeUpgradeState(true));
        KIRTA_WAIT_VERIFY(replies.size() == 1, WAIT_MS);
        QCOMPARE(replies.at(0).at(0).toBool(), false);
        const QString log = m_tree.readFile(QLatin1String(LOG));
        QVERIFY2(log.contains(QStringLiteral("os.kirtalinux.zun.kirtaupgrade.changeUpgradeState "
                                             "failed: org.freedesktop.DBus.Error.ServiceUnknown")),
                 qPrintable(log));
        QVERIFY(m_tool.states.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDbusService)
#include "tst_dbusservice.moc"
