// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The daemon's bus object in process, on a private bus: registration
// failures, the exported interface against the shipped interface file, and
// how an exception inside a call reaches the caller.

#include "constants.h"
#include "daemon.h"
#include "failedreply.h"
#include "privatebus.h"
#include "sandbox.h"
#include "updatedbusservice.h"
#include "waituntil.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

#include <stdexcept>

namespace {
const char *const CLIENT_CONNECTION = "client";
const char *const THROWER_PATH = "/test/thrower";
const char *const THROWER_INTERFACE = "test.thrower";
const int CALL_TIMEOUT_MS = 5000;

QDBusConnection client()
{
    return QDBusConnection(QLatin1String(CLIENT_CONNECTION));
}

// Sends `call` from the client connection and waits for the answer while
// this thread keeps serving the object being called.
QDBusMessage callFromClient(const QDBusMessage &call)
{
    QDBusPendingCall pending = client().asyncCall(call, CALL_TIMEOUT_MS);
    waitUntil([&] { return pending.isFinished(); }, CALL_TIMEOUT_MS + 1000);
    return pending.reply();
}

// One line per member of `interfaceName` in the introspection `xml`:
// "method name(in types and names) -> out types", "signal ..." or
// "property name type access", in document order. In and out arguments
// are listed apart because generators put them in either order.
QStringList describeInterface(const QString &xml, const QString &interfaceName)
{
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inInterface = false;
    QString current;
    QStringList ins;
    QStringList outs;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString element = reader.name().toString();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.isStartElement()) {
            if (element == QLatin1String("interface")) {
                inInterface = attributes.value(QLatin1String("name")) == interfaceName;
            } else if (!inInterface) {
                continue;
            } else if (element == QLatin1String("method") || element == QLatin1String("signal")) {
                current = element + QLatin1Char(' ') + attributes.value(QLatin1String("name"));
                ins.clear();
                outs.clear();
            } else if (element == QLatin1String("property")) {
                members << QStringLiteral("property %1 %2 %3")
                                   .arg(attributes.value(QLatin1String("name")),
                                        attributes.value(QLatin1String("type")),
                                        attributes.value(QLatin1String("access")));
            } else if (element == QLatin1String("arg")) {
                const QString type = attributes.value(QLatin1String("type")).toString();
                const QString name = attributes.value(QLatin1String("name")).toString();
                const bool out
                        = attributes.value(QLatin1String("direction")) == QLatin1String("out")
                          || current.startsWith(QLatin1String("signal"));
                (out ? outs : ins) << (name.isEmpty() ? type : type + QLatin1Char(' ') + name);
            } else if (element == QLatin1String("annotation")) {
                members << QStringLiteral("annotation %1 = %2")
                                   .arg(attributes.value(QLatin1String("name")),
                                        attributes.value(QLatin1String("value")));
            }
        } else if (reader.isEndElement()) {
            if (element == QLatin1String("interface")) {
                inInterface = false;
            } else if (inInterface
                       && (element == QLatin1String("method")
                           || element == QLatin1String("signal"))) {
                members << QStringLiteral("%1(%2) -> %3")
                                   .arg(current, ins.join(QLatin1String(", ")),
                                        outs.join(QLatin1String(", ")));
            }
        }
    }
    if (reader.hasError())
        members << QStringLiteral("XML error: ") + reader.errorString();
    return members;
}

// Names of the interfaces of the introspected object.
QStringList interfaceNames(const QString &xml)
{
    QStringList names;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNextStartElement() && reader.name() == QLatin1String("interface"))
            names << reader.attributes().value(QLatin1String("name")).toString();
    }
    return names;
}
} // namespace

// The shape of the daemon's handler: a QDBusContext behind an adaptor, so
// the error reply goes out through the adaptor's parent just as it does for
// the daemon.
class Thrower : public QObject, public QDBusContext
{
    Q_OBJECT

public:
    int run(int what)
    {
        return replyOrFail(*this, -7, [what]() -> int {
            switch (what) {
            case 1:
                throw std::runtime_error("disk on fire: \xc3\xbc");
            case 2:
                throw std::out_of_range("index 12 out of range");
            default:
                return 42;
            }
        });
    }
};

class ThrowerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "test.thrower")

public:
    explicit ThrowerAdaptor(Thrower *parent)
        : QDBusAbstractAdaptor(parent)
        , m_thrower(parent)
    { }

public Q_SLOTS:
    int run(int what) { return m_thrower->run(what); }

private:
    Thrower *m_thrower;
};

class TestUpdateDBusService : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    SandboxTree m_tree;
    Thrower m_thrower;

    // Drops the daemon's object and name again.
    static bool unregisterDaemon()
    {
        QDBusConnection::systemBus().unregisterObject(DBUS_OBJECT_PATH);
        return QDBusConnection::systemBus().unregisterService(DBUS_SERVICE_NAME);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString()));
        QVERIFY(QDBusConnection::systemBus().isConnected());
        QVERIFY(QDBusConnection::connectToBus(m_bus.address(), QLatin1String(CLIENT_CONNECTION))
                        .isConnected());

        new ThrowerAdaptor(&m_thrower);
        QVERIFY(QDBusConnection::systemBus().registerObject(QLatin1String(THROWER_PATH), &m_thrower,
                                                            QDBusConnection::ExportAdaptors));
    }

    void cleanupTestCase() { QDBusConnection::disconnectFromBus(QLatin1String(CLIENT_CONNECTION)); }

    void registrationRefused_data()
    {
        QTest::addColumn<bool>("nameTaken");
        QTest::addColumn<QString>("message");

        QTest::newRow("name owned by another connection")
                << true
                << QStringLiteral("Service 'os.kirtalinux.zun.kirtaupdateservice' was not "
                                  "registered");
        QTest::newRow("object path taken")
                << false
                << QStringLiteral("Path '/os/kirtalinux/zun/kirtaupdateservice' by "
                                  "'os.kirtalinux.zun.kirtaupdateservice' interface was not "
                                  "registered");
    }

    void registrationRefused()
    {
        QFETCH(bool, nameTaken);
        QFETCH(QString, message);
        QDBusConnection bus = QDBusConnection::systemBus();
        QObject squatter;
        if (nameTaken)
            QVERIFY(client().registerService(DBUS_SERVICE_NAME));
        else
            QVERIFY(bus.registerObject(DBUS_OBJECT_PATH, &squatter));

        Daemon daemon;
        UpdateDBusService service(&daemon);
        QString what;
        try {
            service.registerOnBus();
        } catch (const std::runtime_error &e) {
            what = QString::fromUtf8(e.what());
        }

        if (nameTaken) {
            QVERIFY(client().unregisterService(DBUS_SERVICE_NAME));
        } else {
            bus.unregisterObject(DBUS_OBJECT_PATH);
            // The name taken before the refusal stays with the process.
            QVERIFY(bus.interface()->isServiceRegistered(DBUS_SERVICE_NAME));
            QCOMPARE(bus.interface()->serviceOwner(DBUS_SERVICE_NAME).value(), bus.baseService());
            QVERIFY(bus.unregisterService(DBUS_SERVICE_NAME));
        }
        QCOMPARE(what, message);
    }

    void exportedInterfacesMatchFiles()
    {
        Daemon daemon;
        UpdateDBusService service(&daemon);
        service.registerOnBus();

        const QDBusMessage reply = callFromClient(QDBusMessage::createMethodCall(
                DBUS_SERVICE_NAME, DBUS_OBJECT_PATH,
                QStringLiteral("org.freedesktop.DBus.Introspectable"),
                QStringLiteral("Introspect")));
        QVERIFY(unregisterDaemon());
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        const QString live = reply.arguments().value(0).toString();

        // The handler's own slots and properties stay unexported: only the
        // adaptors' interfaces and the standard ones are there.
        QStringList interfaces = interfaceNames(live);
        interfaces.sort();
        QCOMPARE(interfaces, QStringList({QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                          QStringLiteral("org.freedesktop.DBus.Peer"),
                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                          DBUS_INTERFACE_NAME, DBUS_STATUS_INTERFACE_NAME}));
        const QList<QPair<QString, int>> files {{DBUS_INTERFACE_NAME, 14},
                                                {DBUS_STATUS_INTERFACE_NAME, 20}};
        for (const auto &[name, members] : files) {
            QFile file(QString::fromLocal8Bit(qgetenv("KIRTA_SOURCE_DIR"))
                       + QStringLiteral("/data/%1.xml").arg(name));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
            const QString shipped = QString::fromUtf8(file.readAll());
            QCOMPARE(interfaceNames(shipped), QStringList {name});
            const QStringList expected = describeInterface(shipped, name);
            QCOMPARE(expected.size(), members);
            QCOMPARE(describeInterface(live, name), expected);
        }
    }

    // Nothing on the object is writable by clients, not even what the
    // adaptors inherit from QObject.
    void propertiesRefuseSet_data()
    {
        QTest::addColumn<QString>("interfaceName");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");

        QTest::newRow("methods: objectName")
                << DBUS_INTERFACE_NAME << "objectName" << QVariant(QStringLiteral("x"));
        QTest::newRow("status: objectName")
                << DBUS_STATUS_INTERFACE_NAME << "objectName" << QVariant(QStringLiteral("x"));
        QTest::newRow("any interface: objectName")
                << QString() << "objectName" << QVariant(QStringLiteral("x"));
        QTest::newRow("status: State") << DBUS_STATUS_INTERFACE_NAME << "State" << QVariant(5);
        QTest::newRow("status: Armed") << DBUS_STATUS_INTERFACE_NAME << "Armed" << QVariant(true);
    }

    void propertiesRefuseSet()
    {
        QFETCH(QString, interfaceName);
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        Daemon daemon;
        UpdateDBusService service(&daemon);
        service.registerOnBus();

        const auto properties = [&](const QString &method, const QVariantList &arguments) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                    DBUS_SERVICE_NAME, DBUS_OBJECT_PATH,
                    QStringLiteral("org.freedesktop.DBus.Properties"), method);
            call.setArguments(arguments);
            return callFromClient(call);
        };
        const QDBusMessage set
                = properties(QStringLiteral("Set"),
                             {interfaceName, property, QVariant::fromValue(QDBusVariant(value))});
        const QDBusMessage armed = properties(
                QStringLiteral("Get"), {DBUS_STATUS_INTERFACE_NAME, QStringLiteral("Armed")});
        QVERIFY(unregisterDaemon());

        QCOMPARE(set.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(armed.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(armed.arguments().value(0).value<QDBusVariant>().variant(), QVariant(false));
    }

    void callsReachTheDaemon()
    {
        // A daemon that was never started still renders its state.
        Daemon daemon;
        UpdateDBusService service(&daemon);
        service.registerOnBus();

        const auto call = [](const QString &method, const QVariantList &arguments = {}) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                    DBUS_SERVICE_NAME, DBUS_OBJECT_PATH, DBUS_INTERFACE_NAME, method);
            message.setArguments(arguments);
            return callFromClient(message);
        };
        const QDBusMessage state = call(QStringLiteral("getCurrentStateAsString"));
        const QDBusMessage number = call(QStringLiteral("getCurrentStateAsInt"));
        const QDBusMessage stamp = call(QStringLiteral("removeUpgradeResultStamp"), {7});
        QVERIFY(unregisterDaemon());

        QCOMPARE(state.arguments(), QVariantList {QStringLiteral("unknown")});
        QCOMPARE(number.arguments(), QVariantList {-1});
        QCOMPARE(stamp.arguments(), QVariantList {1});
    }

    void exceptionBecomesFailedReply_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("message");

        QTest::newRow("normal answer") << 0 << QString() << QString();
        QTest::newRow("runtime_error, UTF-8 text")
                << 1 << QStringLiteral("org.freedesktop.DBus.Error.Failed")
                << QStringLiteral("disk on fire: \u00fc");
        QTest::newRow("other std::exception subclass")
                << 2 << QStringLiteral("org.freedesktop.DBus.Error.Failed")
                << QStringLiteral("index 12 out of range");
    }

    void exceptionBecomesFailedReply()
    {
        QFETCH(int, what);
        QFETCH(QString, errorName);
        QFETCH(QString, message);

        QDBusMessage call = QDBusMessage::createMethodCall(
                QDBusConnection::systemBus().baseService(), QLatin1String(THROWER_PATH),
                QLatin1String(THROWER_INTERFACE), QStringLiteral("run"));
        call << what;
        const QDBusMessage reply = callFromClient(call);

        // An error carries only its text; the fallback value is not sent.
        QCOMPARE(reply.type(),
                 errorName.isEmpty() ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), errorName);
        QCOMPARE(reply.errorMessage(), message);
        QCOMPARE(reply.arguments(),
                 errorName.isEmpty() ? QVariantList {42} : QVariantList {message});
    }

    void exceptionOutsideBusGivesFallback()
    {
        QCOMPARE(m_thrower.run(1), -7);
        QCOMPARE(m_thrower.run(0), 42);
    }
};

QTEST_GUILESS_MAIN(TestUpdateDBusService)
#include "tst_updatedbusservice.moc"
