// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The wait for the daemon's first published state, against a mock daemon
// (python3-dbusmock) whose getCurrentStateAsInt answers as each row says:
// what counts as leaving "unknown", that it asks again until then and no
// more after, and that a failure names what the bus answered.

#include "buscontract.h"
#include "privatebus.h"
#include "statewait.h"
#include "waituntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString SERVICE = QLatin1String(BusContract::SERVICE);
const int START_TIMEOUT_MS = 15000;
const int FAILING_WAIT_MS = 1500;
// Counts the calls so far; the rows' code reads `self.calls`.
const QString COUNT = QStringLiteral("self.calls = getattr(self, 'calls', 0) + 1\n");
const QString BROKEN = QStringLiteral("raise dbus.exceptions.DBusException('broken %1', "
                                      "name='org.example.Error.Broken')\n");
} // namespace

class TestStateWait : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_bus.start(), qPrintable(m_bus.errorString())); }
    void cleanup() { stopMock(); }

    void waits_data();
    void waits();

private:
    // The mock daemon with getCurrentStateAsInt of `signature`, running
    // `code` for each call.
    bool startMock(const QString &signature, const QString &code);
    void stopMock();
    int mockCalls() const;

    PrivateBus m_bus;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_mock;
};

bool TestStateWait::startMock(const QString &signature, const QString &code)
{
    m_mock = std::make_unique<QProcess>();
    m_mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Debian's module belongs to the system's interpreter.
    m_mock->start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                   QStringLiteral("-l"), m_dir.filePath(QStringLiteral("mock.log")), SERVICE,
                   QLatin1String(BusContract::PATH), QLatin1String(BusContract::INTERFACE)});
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    if (!waitUntil(
                [&] {
                    return m_mock->state() == QProcess::NotRunning
                           || bus->isServiceRegistered(SERVICE).value();
                },
                START_TIMEOUT_MS)
        || m_mock->state() == QProcess::NotRunning)
        return false;
    QDBusMessage add = QDBusMessage::createMethodCall(SERVICE, QLatin1String(BusContract::PATH),
                                                      QStringLiteral("org.freedesktop.DBus.Mock"),
                                                      QStringLiteral("AddMethod"));
    add << QString() << QStringLiteral("getCurrentStateAsInt") << QString() << signature << code;
    return QDBusConnection::systemBus().call(add, QDBus::Block, START_TIMEOUT_MS).type()
           == QDBusMessage::ReplyMessage;
}

void TestStateWait::stopMock()
{
    if (m_mock) {
        m_mock->kill();
        m_mock->waitForFinished(START_TIMEOUT_MS);
        m_mock.reset();
    }
    QFile::remove(m_dir.filePath(QStringLiteral("mock.log")));
    // The next row must not find this one's name.
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    QVERIFY(waitUntil([&] { return !bus->isServiceRegistered(SERVICE).value(); },
                      START_TIMEOUT_MS));
}

int TestStateWait::mockCalls() const
{
    QFile log(m_dir.filePath(QStringLiteral("mock.log")));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    // "<time> getCurrentStateAsInt" per call; a raised error adds a line.
    return QString::fromUtf8(log.readAll())
            .count(QRegularExpression(QStringLiteral("^\\S+ getCurrentStateAsInt$"),
                                      QRegularExpression::MultilineOption));
}

void TestStateWait::waits_data()
{
    // An empty signature: no mock on the bus at all.
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("left");
    QTest::addColumn<int>("state");
    // When it has left: the calls it took, each answer asked for once.
    QTest::addColumn<int>("calls");
    // When it has not: what the failure says after the waited time.
    QTest::addColumn<QString>("answers");

    QTest::newRow("no updates at once") << "i"
                                        << "ret = 1" << true << 1 << 1 << "";
    QTest::newRow("unknown three times, then waiting for download")
            << "i" << COUNT + "ret = -1 if self.calls <= 3 else 2" << true << 2 << 4 << "";
    // Below -1 is a state too.
    QTest::newRow("stopped for a major release")
            << "i" << COUNT + "ret = -1 if self.calls <= 2 else -3" << true << -3 << 3 << "";
    // The name is taken before the object answers.
    QTest::newRow("errors, then waiting for connection")
            << "i" << COUNT + "if self.calls <= 2:\n    " + BROKEN + "ret = 0" << true << 0 << 3
            << "";

    QTest::newRow("stays unknown") << "i"
                                   << "ret = -1" << false << -1 << -1 << "^-1 \\(\\d+ times\\)$";
    QTest::newRow("text that reads as a number")
            << "s"
            << "ret = '4'" << false << -1 << -1 << "^reply s: 4 \\(\\d+ times\\)$";
    // The error's text holds a place marker of QString::arg().
    QTest::newRow("unknown, errors, unknown again")
            << "i" << COUNT + "if 3 <= self.calls <= 4:\n    " + BROKEN + "ret = -1" << false << -1
            << -1
            << "^-1 \\(2 times\\), error org\\.example\\.Error\\.Broken: broken %1 \\(2 times\\), "
               "-1 \\(\\d+ times\\)$";
    QTest::newRow("nobody owns the name")
            << ""
            << "" << false << -1 << -1
            << "^error org\\.freedesktop\\.DBus\\.Error\\.ServiceUnknown: [^,]+ \\(\\d+ times\\)$";
}

void TestStateWait::waits()
{
    QFETCH(QString, signature);
    QFETCH(QString, code);
    QFETCH(bool, left);
    QFETCH(int, state);
    QFETCH(int, calls);
    QFETCH(QString, answers);
    QVERIFY(m_dir.isValid());
    if (!signature.isEmpty())
        QVERIFY(startMock(signature, code));

    StateWait wait(QDBusConnection::systemBus());
    QElapsedTimer elapsed;
    elapsed.start();
    const int timeoutMs = left ? START_TIMEOUT_MS : FAILING_WAIT_MS;
    QCOMPARE(wait.leftUnknown(timeoutMs), left);
    QCOMPARE(wait.state(), state);
    if (left) {
        QCOMPARE(mockCalls(), calls);
        return;
    }
    // It waited the whole time, and not much beyond it.
    QVERIFY2(elapsed.elapsed() >= FAILING_WAIT_MS, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY2(elapsed.elapsed() < FAILING_WAIT_MS + 5000,
             qPrintable(QString::number(elapsed.elapsed())));
    const QString prefix
            = QStringLiteral("getCurrentStateAsInt did not leave -1 (\"unknown\") within %1 "
                             "ms; answers, in order: ")
                      .arg(FAILING_WAIT_MS);
    const QString failure = wait.failure();
    QVERIFY2(failure.startsWith(prefix), qPrintable(failure));
    QVERIFY2(QRegularExpression(answers).match(failure.mid(prefix.size())).hasMatch(),
             qPrintable(failure));
}

QTEST_GUILESS_MAIN(TestStateWait)
#include "tst_statewait.moc"
