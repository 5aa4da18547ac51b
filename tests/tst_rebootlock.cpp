// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The fleet's reboot lock through its public interface: the FleetLock
// client against a test server, the etcd semaphore against a real
// three-member etcd cluster, both sharing one group's slots, and the
// configuration that picks them.

#include "etcdcluster.h"
#include "etcdlock.h"
#include "fleetidentity.h"
#include "fleetlockclient.h"
#include "fleetlockserver.h"
#include "rebootlock.h"
#include "rebootlockfactory.h"
#include "sandbox.h"
#include "settingscontroller.h"
#include "waituntil.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const int ETCD_ANSWER_MS = 30000;

// Every answer of one lock, in order: "granted", "released" or "denied: why".
class LockProbe
{
public:
    explicit LockProbe(RebootLock *lock)
        : m_lock(lock)
    {
        QObject::connect(lock, &RebootLock::granted, [this]() { answers << "granted"; });
        QObject::connect(lock, &RebootLock::released, [this]() { answers << "released"; });
        QObject::connect(lock, &RebootLock::denied,
                         [this](const QString &why) { answers << "denied: " + why; });
    }

    // The answer to one more request, or "" when none came in time.
    QString ask(void (RebootLock::*request)(), int timeoutMs)
    {
        const int before = answers.size();
        (m_lock->*request)();
        if (!waitUntil([&]() { return answers.size() > before; }, timeoutMs))
            return QString();
        return answers.at(before);
    }

    QStringList answers;

private:
    RebootLock *m_lock;
};

LockTransport::Timing quickTiming(int requestMs, int rounds)
{
    LockTransport::Timing timing;
    timing.requestMs = requestMs;
    timing.rounds = rounds;
    timing.firstPauseMs = 100;
    return timing;
}

QList<QUrl> urls(const QString &commaSeparated)
{
    QList<QUrl> list;
    for (const QString &text : commaSeparated.split(QLatin1Char(',')))
        list.append(QUrl(text));
    return list;
}

// A port with nobody listening.
int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class TestRebootLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void appSpecificId_data();
    void appSpecificId();
    void idFromMachineIdFile();
    void configuration_data();
    void configuration();

    void fleetLockAnswers_data();
    void fleetLockAnswers();
    void fleetLockWithoutAnswer_data();
    void fleetLockWithoutAnswer();
    void fleetLockOverTls();

    void etcdGroupSharedWithFleetLock();
    void etcdConcurrentChanges();
    void etcdLogin();

private:
    EtcdCluster *cluster();
    QByteArray record(const QString &group);
    QStringList holders(const QString &group);

    SandboxTree m_tree;
    std::unique_ptr<EtcdCluster> m_cluster;
    QString m_clusterError;
};

void TestRebootLock::initTestCase()
{
    QVERIFY2(m_tree.reset(), qPrintable(m_tree.root()));
}

void TestRebootLock::cleanupTestCase()
{
    m_cluster.reset();
}

EtcdCluster *TestRebootLock::cluster()
{
    if (!m_cluster && m_clusterError.isEmpty()) {
        m_clusterError = EtcdCluster::missingPackage();
        if (m_clusterError.isEmpty()) {
            m_cluster = std::make_unique<EtcdCluster>(m_tree.path(QStringLiteral("/etcd")));
            if (!m_cluster->start(&m_clusterError))
                m_cluster.reset();
        }
    }
    return m_cluster.get();
}

QByteArray TestRebootLock::record(const QString &group)
{
    bool ok = false;
    const QByteArray value = m_cluster->value(EtcdLock::recordKey(group), &ok);
    return ok ? value : QByteArrayLiteral("(etcdctl failed)");
}

QStringList TestRebootLock::holders(const QString &group)
{
    QStringList list;
    const QJsonArray array
            = QJsonDocument::fromJson(record(group)).object().value("holders").toArray();
    for (const QJsonValue &holder : array)
        list.append(holder.toString());
    return list;
}

// Expected values computed apart from this code (Python's hmac module),
// which gives what `systemd-id128 machine-id --app-specific=APP_ID` prints
// for the same machine id.
void TestRebootLock::appSpecificId_data()
{
    QTest::addColumn<QByteArray>("machineId");
    QTest::addColumn<QString>("expected");

    QTest::newRow("documented example") << QByteArray("0123456789abcdef0123456789abcdef")
                                        << QStringLiteral("583627a932274834a8ebd99f4ed41c0d");
    QTest::newRow("upper case, file's newline")
            << QByteArray("0123456789ABCDEF0123456789ABCDEF\n")
            << QStringLiteral("583627a932274834a8ebd99f4ed41c0d");
    QTest::newRow("all ones") << QByteArray("ffffffffffffffffffffffffffffffff")
                              << QStringLiteral("01e17ff8056e4c079b0bac70864eb9b5");
    QTest::newRow("another") << QByteArray("4a1b2c3d4e5f60718293a4b5c6d7e8f9")
                             << QStringLiteral("99ff70a8420f448e83d37ae076ff5a0e");
    QTest::newRow("too short") << QByteArray("0123456789abcdef") << QString();
    QTest::newRow("not hex") << QByteArray("0123456789abcdef0123456789abcdeg") << QString();
    QTest::newRow("uuid form") << QByteArray("01234567-89ab-cdef-0123-456789abcdef") << QString();
    QTest::newRow("empty (first boot)") << QByteArray("") << QString();
}

void TestRebootLock::appSpecificId()
{
    QFETCH(QByteArray, machineId);
    QFETCH(QString, expected);
    QString error;
    const QString id
            = FleetIdentity::appSpecificId(machineId, QByteArray(FleetIdentity::APP_ID), &error);
    QCOMPARE(id, expected);
    QCOMPARE(error.isEmpty(), !expected.isEmpty());
}

void TestRebootLock::idFromMachineIdFile()
{
    QString error;
    QVERIFY(!QFile::exists(m_tree.path("/etc/machine-id")));
    QVERIFY(FleetIdentity::machineLockId(&error).isEmpty());
    QVERIFY2(error.contains("/etc/machine-id"), qPrintable(error));

    QVERIFY(m_tree.writeFile("/etc/machine-id", QByteArray("4a1b2c3d4e5f60718293a4b5c6d7e8f9\n")));
    QCOMPARE(FleetIdentity::machineLockId(&error),
             QStringLiteral("99ff70a8420f448e83d37ae076ff5a0e"));

    // The configuration's default id is the derived one.
    Params params = SettingsController::defaults();
    params.reboot_lock.second = "fleetlock";
    params.reboot_lock_servers.second = "http://127.0.0.1:1";
    std::unique_ptr<RebootLock> lock(RebootLockFactory::create(params, nullptr, &error));
    QVERIFY2(lock, qPrintable(error));
    QVERIFY2(lock->describe().contains("99ff70a8420f448e83d37ae076ff5a0e"),
             qPrintable(lock->describe()));
    QVERIFY(QFile::remove(m_tree.path("/etc/machine-id")));
}

// The configuration file's text, as the administrator writes it, and the
// lock it gives ("describe" words) or the reason it gives none.
void TestRebootLock::configuration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("described");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("warning"); // the one warning of the load, if any

    const QString fleet = "Reboot_lock=fleetlock\nReboot_lock_servers=https://lock.example:8443\n"
                          "Reboot_lock_id=m1\n";
    QTest::newRow("nothing set: no lock") << ""
                                          << ""
                                          << "" << QString();
    QTest::newRow("none") << "Reboot_lock=none\nReboot_lock_servers=http://x\n"
                          << ""
                          << "" << QString();
    QTest::newRow("fleetlock, default group")
            << fleet << "FleetLock server https://lock.example:8443 group default as m1"
            << "" << QString();
    QTest::newRow("etcd, three endpoints, dotted group")
            << "Reboot_lock=ETCD\nReboot_lock_servers=http://a:2379, http://b:2379,"
               "http://c:2379\nReboot_lock_group=web.eu-1\nReboot_lock_id=m1\n"
            << "etcd http://a:2379,http://b:2379,http://c:2379 group web.eu-1 as m1"
            << "" << QString();
    const QStringList badGroups {"web_1", "web 1", "wéb", "web/1", "a+b", "../x"};
    for (const QString &group : badGroups)
        QTest::newRow(qPrintable("group " + group)) << fleet + "Reboot_lock_group=" + group + "\n"
                                                    << ""
                                                    << "must match ^[a-zA-Z0-9.-]+$" << QString();
    QTest::newRow("unknown kind") << "Reboot_lock=zookeeper\n"
                                  << ""
                                  << "none of none, etcd, fleetlock" << QString();
    QTest::newRow("no servers") << "Reboot_lock=etcd\nReboot_lock_id=m1\n"
                                << ""
                                << "needs Reboot_lock_servers" << QString();
    QTest::newRow("not a URL") << "Reboot_lock=etcd\nReboot_lock_id=m1\n"
                                  "Reboot_lock_servers=http://a:2379,ftp://b\n"
                               << ""
                               << "\"ftp://b\" is not an http:// or https:// URL" << QString();
    QTest::newRow("two FleetLock servers") << fleet + "Reboot_lock_servers=http://a,http://b\n"
                                           << ""
                                           << "takes one server URL" << QString();
    QTest::newRow("zero slots are one")
            << "Reboot_lock=etcd\nReboot_lock_id=m1\n"
               "Reboot_lock_servers=http://a:2379\nReboot_lock_slots=0\n"
            << "etcd http://a:2379 group default as m1"
            << ""
            << "Reboot_lock_slots = 0 is below the minimum, using 1";
    QTest::newRow("CA file without certificates")
            << fleet + "Reboot_lock_ca_file=/nonexistent/ca.pem\n"
            << ""
            << "Reboot_lock_ca_file: /nonexistent/ca.pem holds no PEM certificate" << QString();
    QTest::newRow("no machine id") << "Reboot_lock=fleetlock\nReboot_lock_servers=http://a\n"
                                   << ""
                                   << "no lock id: /etc/machine-id cannot be read" << QString();
}

void TestRebootLock::configuration()
{
    QFETCH(QString, text);
    QFETCH(QString, described);
    QFETCH(QString, error);
    QFETCH(QString, warning);
    const QString path = m_tree.path("/etc/kirta-update-service/kirta-update-daemon.conf");
    QVERIFY(m_tree.writeFile("/etc/kirta-update-service/kirta-update-daemon.conf", text));
    SettingsController settings(path);
    settings.load();
    QCOMPARE(settings.lastWarnings(), warning.isEmpty() ? QStringList() : QStringList {warning});

    QString why = QStringLiteral("(untouched)");
    std::unique_ptr<RebootLock> lock(RebootLockFactory::create(settings.params(), nullptr, &why));
    if (described.isEmpty()) {
        QVERIFY(!lock);
        if (error.isEmpty())
            QCOMPARE(why, QString());
        else
            QVERIFY2(why.contains(error), qPrintable(why));
    } else {
        QVERIFY2(lock, qPrintable(why));
        QCOMPARE(lock->describe(), described);
        QCOMPARE(why, QString());
    }
}

// A FleetLock server's answers reach the caller as they came; an answer,
// even a refusal, is final for the request (no repeat).
void TestRebootLock::fleetLockAnswers_data()
{
    QTest::addColumn<bool>("take");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expected");

    const QString full = R"({"kind":"failed_lock","value":"semaphore currently fully held"})";
    QTest::newRow("lock granted") << true << 200 << "{}"
                                  << "granted";
    QTest::newRow("unlock done") << false << 200 << ""
                                 << "released";
    QTest::newRow("lock refused") << true << 409 << full
                                  << "denied: failed_lock: semaphore currently fully held";
    QTest::newRow("unlock refused, 500")
            << false << 500 << R"({"kind":"failed_unlock","value":"etcd unreachable"})"
            << "denied: failed_unlock: etcd unreachable";
    QTest::newRow("proxy page") << true << 502 << "<html><b>Bad   gateway</b></html>"
                                << "denied: HTTP 502: <html><b>Bad gateway</b></html>";
    QTest::newRow("empty 404") << true << 404 << ""
                               << "denied: HTTP 404";
    QTest::newRow("201 is not 200") << true << 201 << "{}"
                                    << "denied: HTTP 201: {}";
}

void TestRebootLock::fleetLockAnswers()
{
    QFETCH(bool, take);
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(QString, expected);

    FleetLockServer server;
    QVERIFY(server.start({"--status", QString::number(status), "--body", body},
                         m_tree.path("/fleetlock-answers.log")));
    FleetLockClient client(server.url(), "web", "0a1b", nullptr);
    client.transport()->setTiming(quickTiming(5000, 3));
    LockProbe probe(&client);
    QCOMPARE(probe.ask(take ? &RebootLock::acquire : &RebootLock::release, 15000), expected);

    const QList<QJsonObject> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("path").toString(),
             take ? QString("/v1/pre-reboot") : QString("/v1/steady-state"));
    QCOMPARE(requests.first().value("protocol").toString(), QString("true"));
    const QJsonObject sent
            = QJsonDocument::fromJson(requests.first().value("body").toString().toUtf8()).object();
    QCOMPARE(sent,
             (QJsonObject {{"client_params", QJsonObject {{"id", "0a1b"}, {"group", "web"}}}}));
}

// A server that answers too late, never, or is not there: each request is
// bounded, repeated, and ends denied, never granted.
void TestRebootLock::fleetLockWithoutAnswer_data()
{
    QTest::addColumn<double>("delay"); // < 0: nobody listening
    QTest::addColumn<int>("requestMs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("requests");

    QTest::newRow("never answers") << 3600.0 << 400 << "no answer within 400 ms" << 3;
    QTest::newRow("answers too late") << 1.5 << 400 << "no answer within 400 ms" << 3;
    QTest::newRow("nobody listening") << -1.0 << 400 << "Connection refused" << 0;
    QTest::newRow("slow but in time") << 0.3 << 5000 << "" << 1;
}

void TestRebootLock::fleetLockWithoutAnswer()
{
    QFETCH(double, delay);
    QFETCH(int, requestMs);
    QFETCH(QString, expected);
    QFETCH(int, requests);

    FleetLockServer server;
    QUrl url = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    if (delay >= 0) {
        QVERIFY(server.start({"--status", "200", "--body", "{}", "--delay", QString::number(delay)},
                             m_tree.path("/fleetlock-slow.log")));
        url = server.url();
    }
    FleetLockClient client(url, "web", "0a1b", nullptr);
    client.transport()->setTiming(quickTiming(requestMs, 3));
    LockProbe probe(&client);
    QElapsedTimer elapsed;
    elapsed.start();
    const QString answer = probe.ask(&RebootLock::acquire, 20000);
    if (expected.isEmpty()) {
        QCOMPARE(answer, QString("granted"));
    } else {
        QVERIFY2(answer.startsWith("denied: the FleetLock server did not answer: ")
                         && answer.contains(expected),
                 qPrintable(answer));
        // Three rounds of at most requestMs each, with 100 + 200 ms pauses.
        QVERIFY2(elapsed.elapsed() < 3 * requestMs + 300 + 2000,
                 qPrintable(QString::number(elapsed.elapsed())));
    }
    if (delay >= 0)
        KIRTA_WAIT_VERIFY(server.requests().size() == requests, 5000);
    // Nothing more arrives later: no answer turns into a grant, no request
    // is sent on its own.
    QTest::qWait(800);
    QCOMPARE(probe.answers.size(), 1);
    if (delay >= 0)
        QCOMPARE(server.requests().size(), requests);
    QVERIFY(client.findChildren<QNetworkAccessManager *>().isEmpty());
    for (const QTimer *timer : client.findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
}

// HTTPS with a certificate the system does not know: refused, unless the
// configured CA file vouches for it.
void TestRebootLock::fleetLockOverTls()
{
    const QString cert = m_tree.path("/etc/ssl/lock.pem");
    const QString key = m_tree.path("/etc/ssl/lock.key");
    QVERIFY(m_tree.mkpath("/etc/ssl"));
    QProcess openssl;
    openssl.start("/usr/bin/openssl",
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                   "-out", cert});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    FleetLockServer server;
    QVERIFY(server.start({"--status", "200", "--body", "{}", "--tls", cert, key},
                         m_tree.path("/fleetlock-tls.log")));
    QUrl url = server.url();
    url.setScheme("https");

    for (const bool trusted : {false, true}) {
        Params params = SettingsController::defaults();
        params.reboot_lock.second = "fleetlock";
        params.reboot_lock_servers.second = url.toString();
        params.reboot_lock_id.second = "m-tls";
        params.reboot_lock_ca_file.second = trusted ? cert : QString();
        QString error;
        std::unique_ptr<RebootLock> lock(RebootLockFactory::create(params, nullptr, &error));
        QVERIFY2(lock, qPrintable(error));
        qobject_cast<FleetLockClient *>(lock.get())->transport()->setTiming(quickTiming(5000, 2));
        LockProbe probe(lock.get());
        const QString answer = probe.ask(&RebootLock::acquire, 20000);
        if (trusted) {
            QCOMPARE(answer, QString("granted"));
        } else {
            QVERIFY2(answer.startsWith("denied: the FleetLock server did not answer: https://"),
                     qPrintable(answer));
        }
    }
    // Only the trusted client got as far as sending its request.
    QCOMPARE(server.requests().size(), 1);
}

// One group with two slots, shared by three machines talking to etcd and
// one going through a FleetLock server on the same record; then members of
// the cluster go away and come back.
void TestRebootLock::etcdGroupSharedWithFleetLock()
{
    EtcdCluster *etcd = cluster();
    if (!etcd)
        QFAIL(qPrintable(m_clusterError));

    FleetLockServer server;
    QVERIFY(server.start({"--etcd", etcd->clientUrls(), "--slots", "2"},
                         m_tree.path("/fleetlock-etcd.log")));
    std::vector<std::unique_ptr<RebootLock>> locks;
    const QStringList ids {"m-a", "m-b", "m-c"};
    for (const QString &id : ids) {
        auto *lock = new EtcdLock(urls(etcd->clientUrls()), "web", id, 2);
        lock->transport()->setTiming(quickTiming(3000, 2));
        locks.emplace_back(lock);
    }
    auto *viaServer = new FleetLockClient(server.url(), "web", "m-f");
    viaServer->transport()->setTiming(quickTiming(15000, 1));
    locks.emplace_back(viaServer);
    std::vector<std::unique_ptr<LockProbe>> probes;
    for (const auto &lock : locks)
        probes.emplace_back(new LockProbe(lock.get()));
    LockProbe &a = *probes[0];

    // The first one creates the record with its slot count.
    QCOMPARE(a.ask(&RebootLock::acquire, ETCD_ANSWER_MS), QString("granted"));
    QCOMPARE(record("web"), QByteArray(R"({"total_slots":2,"holders":["m-a"]})"));
    // Taken again: granted, nothing written.
    QCOMPARE(a.ask(&RebootLock::acquire, ETCD_ANSWER_MS), QString("granted"));
    QCOMPARE(record("web"), QByteArray(R"({"total_slots":2,"holders":["m-a"]})"));

    // Three ask at once for the one slot left, one of them through the server.
    for (int i = 1; i <= 3; ++i)
        locks[i]->acquire();
    KIRTA_WAIT_VERIFY(probes[1]->answers.size() == 1 && probes[2]->answers.size() == 1
                              && probes[3]->answers.size() == 1,
                      ETCD_ANSWER_MS);
    int winner = 0;
    for (int i = 1; i <= 3; ++i) {
        const QString answer = probes[i]->answers.first();
        if (answer == "granted") {
            QCOMPARE(winner, 0);
            winner = i;
        } else {
            QCOMPARE(answer, i == 3 ? QString("denied: failed_lock: semaphore currently fully held")
                                    : QString("denied: web: 2 of 2 slots held"));
        }
    }
    QVERIFY(winner != 0);
    const QString winnerId = winner == 3 ? QString("m-f") : ids.at(winner);
    QStringList expected {"m-a", winnerId};
    expected.sort();
    QCOMPARE(holders("web"), expected);

    // Given back, twice: the second finds nothing to give back.
    QCOMPARE(a.ask(&RebootLock::release, ETCD_ANSWER_MS), QString("released"));
    QCOMPARE(a.ask(&RebootLock::release, ETCD_ANSWER_MS), QString("released"));
    QCOMPARE(holders("web"), QStringList {winnerId});

    // One member gone (the first endpoint every lock tries): the rest
    // carries on. A lock whose record says 5 slots for new groups still
    // sees the group's 2.
    etcd->stopMember(0);
    const int loser = winner == 1 ? 2 : 1;
    QCOMPARE(probes[loser]->ask(&RebootLock::acquire, ETCD_ANSWER_MS), QString("granted"));
    EtcdLock late(urls(etcd->clientUrls()), "web", "m-z", 5);
    LockProbe lateProbe(&late);
    QCOMPARE(lateProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS),
             QString("denied: web: 2 of 2 slots held"));
    QCOMPARE(holders("web").size(), 2);

    // The whole cluster gone: every request ends denied, saying why.
    etcd->stopAll();
    QString answer = lateProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS);
    QVERIFY2(answer.startsWith("denied: no etcd endpoint answered: ")
                     && answer.contains("Connection refused"),
             qPrintable(answer));
    answer = probes[3]->ask(&RebootLock::acquire, ETCD_ANSWER_MS);
    QVERIFY2(answer.startsWith("denied: failed_lock: no etcd endpoint answered"),
             qPrintable(answer));
    answer = probes[loser]->ask(&RebootLock::release, ETCD_ANSWER_MS);
    QVERIFY2(answer.startsWith("denied: no etcd endpoint answered: "), qPrintable(answer));

    // Back again: the holders are as they were, and work goes on.
    QString error;
    for (int i = 0; i < EtcdCluster::MEMBERS; ++i)
        QVERIFY2(etcd->startMember(i, &error), qPrintable(error));
    QVERIFY2(etcd->awaitServing(&error), qPrintable(error));
    QCOMPARE(probes[loser]->ask(&RebootLock::release, ETCD_ANSWER_MS), QString("released"));
    QCOMPARE(lateProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS), QString("granted"));
    expected = QStringList {winnerId, "m-z"};
    expected.sort();
    QCOMPARE(holders("web"), expected);

    // Idle: nothing goes out, nothing ticks.
    const int served = server.requests().size();
    QTest::qWait(1000);
    QCOMPARE(server.requests().size(), served);
    for (const auto &lock : locks) {
        QVERIFY(lock->findChildren<QNetworkAccessManager *>().isEmpty());
        for (const QTimer *timer : lock->findChildren<QTimer *>())
            QVERIFY(!timer->isActive());
    }
}

// Many machines changing one record at the same moment: each change is
// made against the version it read, so none is lost.
void TestRebootLock::etcdConcurrentChanges()
{
    EtcdCluster *etcd = cluster();
    if (!etcd)
        QFAIL(qPrintable(m_clusterError));
    QString error;
    for (int i = 0; i < EtcdCluster::MEMBERS; ++i)
        QVERIFY2(etcd->startMember(i, &error), qPrintable(error)); // no-op when running
    QVERIFY2(etcd->awaitServing(&error), qPrintable(error));

    const int count = 6;
    std::vector<std::unique_ptr<EtcdLock>> locks;
    std::vector<std::unique_ptr<LockProbe>> probes;
    QStringList ids;
    for (int i = 0; i < count; ++i) {
        ids << QStringLiteral("burst-%1").arg(count - i);
        locks.emplace_back(new EtcdLock(urls(etcd->clientUrls()), "burst", ids.last(), count));
        probes.emplace_back(new LockProbe(locks.back().get()));
    }
    for (const auto &lock : locks)
        lock->acquire();
    for (const auto &probe : probes)
        KIRTA_WAIT_VERIFY(probe->answers.size() == 1, ETCD_ANSWER_MS);
    for (const auto &probe : probes)
        QCOMPARE(probe->answers.first(), QString("granted"));
    ids.sort();
    QCOMPARE(holders("burst"), ids);

    for (const auto &lock : locks)
        lock->release();
    for (const auto &probe : probes)
        KIRTA_WAIT_VERIFY(probe->answers.size() == 2, ETCD_ANSWER_MS);
    for (const auto &probe : probes)
        QCOMPARE(probe->answers.at(1), QString("released"));
    QCOMPARE(record("burst"), QByteArray(R"({"total_slots":6,"holders":[]})"));
}

// A cluster with authentication: the lock logs in with the password file
// and renews a token etcd no longer takes.
void TestRebootLock::etcdLogin()
{
    EtcdCluster *etcd = cluster();
    if (!etcd)
        QFAIL(qPrintable(m_clusterError));
    bool ok = false;
    etcd->etcdctl({"user", "add", "root", "--new-user-password=s3cret"}, &ok);
    QVERIFY(ok);
    etcd->etcdctl({"auth", "enable"}, &ok);
    QVERIFY(ok);

    QVERIFY(m_tree.writeFile("/etc/kirta-update-service/etcd-password", QByteArray("s3cret\n")));
    QVERIFY(m_tree.writeFile("/etc/kirta-update-service/wrong-password", QByteArray("guess\n")));
    EtcdLock good(urls(etcd->clientUrls()), "auth", "m-a", 1);
    good.setCredentials("root", m_tree.path("/etc/kirta-update-service/etcd-password"));
    EtcdLock wrong(urls(etcd->clientUrls()), "auth", "m-b", 1);
    wrong.setCredentials("root", m_tree.path("/etc/kirta-update-service/wrong-password"));
    EtcdLock anonymous(urls(etcd->clientUrls()), "auth", "m-c", 1);
    LockProbe goodProbe(&good), wrongProbe(&wrong), anonymousProbe(&anonymous);

    QCOMPARE(goodProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS), QString("granted"));
    QString answer = wrongProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS);
    QVERIFY2(answer.startsWith("denied: etcd refused the login of root: ")
                     && answer.contains("authentication failed"),
             qPrintable(answer));
    answer = anonymousProbe.ask(&RebootLock::acquire, ETCD_ANSWER_MS);
    QVERIFY2(answer.startsWith("denied: etcd: HTTP "), qPrintable(answer));

    // Tokens die when the member that issued them restarts (simple tokens
    // live in memory); the lock logs in again on its own.
    for (int i = 0; i < EtcdCluster::MEMBERS; ++i)
        etcd->stopMember(i);
    QString error;
    for (int i = 0; i < EtcdCluster::MEMBERS; ++i)
        QVERIFY2(etcd->startMember(i, &error), qPrintable(error));
    QVERIFY2(etcd->awaitServing(&error), qPrintable(error));
    QCOMPARE(goodProbe.ask(&RebootLock::release, ETCD_ANSWER_MS), QString("released"));
    const QByteArray value
            = etcd->etcdctl({"--user", "root:s3cret", "get",
                             QString::fromUtf8(EtcdLock::recordKey("auth")), "--print-value-only"},
                            &ok);
    QCOMPARE(value.trimmed(), QByteArray(R"({"total_slots":1,"holders":[]})"));
}

QTEST_GUILESS_MAIN(TestRebootLock)
#include "tst_rebootlock.moc"
