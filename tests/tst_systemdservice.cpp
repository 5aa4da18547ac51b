// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "privatebus.h"
#include "systemdservice.h"
#include "unitfilechange.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QtTest>

#include <functional>

using ZunAdmin::SystemdService;

namespace {
const char *const SYSTEMD_SERVICE = "org.freedesktop.systemd1";
const char *const SYSTEMD_PATH = "/org/freedesktop/systemd1";
const char *const FAKE_CONNECTION = "fake-systemd";
const int SHORT_TIMEOUT_MS = 1000;
const int BOUND_MS = 10000;
} // namespace

// The service manager's methods that SystemdService uses, with their real
// signatures. Lives in a thread of its own: the client blocks the main
// thread while it waits for the answer.
class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")

public:
    enum Behaviour { Answer, Fail, Ignore };

    void setBehaviour(Behaviour behaviour)
    {
        QMutexLocker lock(&m_mutex);
        m_behaviour = behaviour;
    }

    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    void clearCalls()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }

public Q_SLOTS:
    bool EnableUnitFiles(const QStringList &files, bool runtime, bool force,
                         QList<UnitFileChange> &changes)
    {
        changes = {{QStringLiteral("symlink"), QStringLiteral("/etc/x"), files.value(0)}};
        record(QStringLiteral("EnableUnitFiles [%1] %2 %3")
                       .arg(files.join(QLatin1Char(',')), text(runtime), text(force)));
        return false;
    }

    QList<UnitFileChange> DisableUnitFiles(const QStringList &files, bool runtime)
    {
        record(QStringLiteral("DisableUnitFiles [%1] %2")
                       .arg(files.join(QLatin1Char(',')), text(runtime)));
        return {};
    }

    QDBusObjectPath StartUnit(const QString &name, const QString &mode)
    {
        record(QStringLiteral("StartUnit %1 %2").arg(name, mode));
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"));
    }

    void Reload() { record(QStringLiteral("Reload")); }

private:
    static QString text(bool value)
    {
        return value ? QStringLiteral("true") : QStringLiteral("false");
    }

    void record(const QString &call)
    {
        QMutexLocker lock(&m_mutex);
        m_calls << call;
        if (m_behaviour == Fail)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed"));
        else if (m_behaviour == Ignore)
            setDelayedReply(true); // and never answer
    }

    mutable QMutex m_mutex;
    QStringList m_calls;
    Behaviour m_behaviour = Answer;
};

class TestSystemdService : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;
    QThread m_managerThread;
    FakeManager *m_manager = nullptr;

    QDBusConnection fakeConnection() const
    {
        return QDBusConnection(QLatin1String(FAKE_CONNECTION));
    }

    static bool act(SystemdService &unit, const QString &action)
    {
        if (action == QLatin1String("enable"))
            return unit.enable();
        if (action == QLatin1String("start"))
            return unit.start();
        return unit.disable();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
        qDBusRegisterMetaType<UnitFileChange>();
        qDBusRegisterMetaType<QList<UnitFileChange>>();

        QDBusConnection fake
                = QDBusConnection::connectToBus(m_bus.address(), QLatin1String(FAKE_CONNECTION));
        QVERIFY(fake.isConnected());
        m_manager = new FakeManager;
        m_manager->moveToThread(&m_managerThread);
        m_managerThread.start();
        QVERIFY(fake.registerObject(QLatin1String(SYSTEMD_PATH), m_manager,
                                    QDBusConnection::ExportAllSlots));
        QVERIFY(QDBusConnection::systemBus().isConnected());
    }

    void init()
    {
        m_manager->setBehaviour(FakeManager::Answer);
        m_manager->clearCalls();
        QDBusConnection fake = fakeConnection();
        if (!fake.interface()->isServiceRegistered(QLatin1String(SYSTEMD_SERVICE)))
            QVERIFY(fake.registerService(QLatin1String(SYSTEMD_SERVICE)));
    }

    void cleanupTestCase()
    {
        m_managerThread.quit();
        m_managerThread.wait();
        delete m_manager;
        QDBusConnection::disconnectFromBus(QLatin1String(FAKE_CONNECTION));
    }

    void calls_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("refused"); // the manager answers with an error
        QTest::addColumn<QStringList>("calls");

        const QString tool = QStringLiteral("kirta-activate-update");
        const QString unit = QStringLiteral("kirta-activate-update.service");
        const QString enable = "EnableUnitFiles [" + unit + "] false true";
        const QString disable = "DisableUnitFiles [" + unit + "] false";
        const QString start = "StartUnit " + unit + " replace";
        QTest::newRow("enable") << tool << "enable" << false << QStringList {enable, "Reload"};
        QTest::newRow("start") << tool << "start" << false << QStringList {start};
        QTest::newRow("disable") << tool << "disable" << false << QStringList {disable, "Reload"};
        QTest::newRow("suffix kept")
                << "kirta-check.timer"
                << "start" << false << QStringList {"StartUnit kirta-check.timer replace"};
        QTest::newRow("full service name")
                << unit << "enable" << false << QStringList {enable, "Reload"};
        QTest::newRow("template instance")
                << "kirta-run@a.b"
                << "disable" << false
                << QStringList {"DisableUnitFiles [kirta-run@a.b.service] false", "Reload"};
        // No reload after a refused change.
        QTest::newRow("enable refused") << tool << "enable" << true << QStringList {enable};
        QTest::newRow("start refused") << tool << "start" << true << QStringList {start};
        QTest::newRow("disable refused") << tool << "disable" << true << QStringList {disable};
    }

    void calls()
    {
        QFETCH(QString, unit);
        QFETCH(QString, action);
        QFETCH(bool, refused);
        QFETCH(QStringList, calls);
        if (refused)
            m_manager->setBehaviour(FakeManager::Fail);

        SystemdService service(unit);
        QCOMPARE(act(service, action), !refused);
        QCOMPARE(m_manager->calls(), calls);
    }

    // A manager that never answers, or none at all: every call gives up
    // within the bound.
    void unansweredIsBounded_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("silent manager") << true;
        QTest::newRow("no manager") << false;
    }

    void unansweredIsBounded()
    {
        QFETCH(bool, present);
        if (present)
            m_manager->setBehaviour(FakeManager::Ignore);
        else
            QVERIFY(fakeConnection().unregisterService(QLatin1String(SYSTEMD_SERVICE)));
        SystemdService service(QStringLiteral("kirta-activate-update"));
        service.setTimeout(SHORT_TIMEOUT_MS);

        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!service.enable());
        if (present)
            QVERIFY(elapsed.elapsed() >= SHORT_TIMEOUT_MS - 100);
        QVERIFY(!service.start());
        QVERIFY(!service.disable());
        QVERIFY2(elapsed.elapsed() < BOUND_MS, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(m_manager->calls().size(), present ? 3 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSystemdService)
#include "tst_systemdservice.moc"
