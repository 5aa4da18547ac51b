// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "etcdcluster.h"

#include "waituntil.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const char *const ETCD = "/usr/bin/etcd";
const char *const ETCDCTL = "/usr/bin/etcdctl";
const int START_MS = 60000;

// A port nobody listens on now. Another process may take it before etcd
// does; the start then fails and says so.
int freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

QString url(int port)
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

} // namespace

EtcdCluster::EtcdCluster(const QString &baseDir)
    : m_baseDir(baseDir)
    , m_token(QStringLiteral("kirta-test-%1").arg(QCoreApplication::applicationPid()))
{
    for (int i = 0; i < MEMBERS; ++i) {
        m_clientPorts.append(0);
        m_peerPorts.append(0);
        m_members.append(nullptr);
    }
}

EtcdCluster::~EtcdCluster()
{
    stopAll();
}

QString EtcdCluster::missingPackage()
{
    if (QFileInfo(QLatin1String(ETCD)).isExecutable()
        && QFileInfo(QLatin1String(ETCDCTL)).isExecutable())
        return QString();
    return QStringLiteral("etcd is missing: install Debian's etcd-server and etcd-client "
                          "(bash scripts/setup does)");
}

bool EtcdCluster::start(QString *error)
{
    QDir(m_baseDir).removeRecursively();
    for (int i = 0; i < MEMBERS; ++i) {
        m_clientPorts[i] = freePort();
        m_peerPorts[i] = freePort();
    }
    for (int i = 0; i < MEMBERS; ++i) {
        if (!startMember(i, error))
            return false;
    }
    return awaitServing(error);
}

bool EtcdCluster::awaitServing(QString *error)
{
    for (int i = 0; i < MEMBERS; ++i) {
        if (m_members.at(i) && !waitServing(i, error))
            return false;
    }
    return true;
}

bool EtcdCluster::startMember(int index, QString *error)
{
    if (m_members.at(index) && m_members.at(index)->state() != QProcess::NotRunning)
        return true;
    QStringList initial;
    for (int i = 0; i < MEMBERS; ++i)
        initial.append(QStringLiteral("m%1=%2").arg(i).arg(url(m_peerPorts.at(i))));
    const QString dataDir = QStringLiteral("%1/m%2").arg(m_baseDir).arg(index);
    const bool fresh = !QFileInfo::exists(dataDir + QStringLiteral("/member"));
    QDir().mkpath(dataDir);
    auto process = std::make_shared<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(QStringLiteral("%1/m%2.log").arg(m_baseDir).arg(index),
                                   QIODevice::Append);
    const QString client = url(m_clientPorts.at(index));
    const QString peer = url(m_peerPorts.at(index));
    process->start(QLatin1String(ETCD), {QStringLiteral("--name"),
                                         QStringLiteral("m%1").arg(index),
                                         QStringLiteral("--data-dir"),
                                         dataDir,
                                         QStringLiteral("--listen-client-urls"),
                                         client,
                                         QStringLiteral("--advertise-client-urls"),
                                         client,
                                         QStringLiteral("--listen-peer-urls"),
                                         peer,
                                         QStringLiteral("--initial-advertise-peer-urls"),
                                         peer,
                                         QStringLiteral("--initial-cluster"),
                                         initial.join(QLatin1Char(',')),
                                         QStringLiteral("--initial-cluster-state"),
                                         fresh ? QStringLiteral("new") : QStringLiteral("existing"),
                                         QStringLiteral("--initial-cluster-token"),
                                         m_token,
                                         QStringLiteral("--heartbeat-interval"),
                                         QStringLiteral("100"),
                                         QStringLiteral("--election-timeout"),
                                         QStringLiteral("1000"),
                                         QStringLiteral("--logger"),
                                         QStringLiteral("zap"),
                                         QStringLiteral("--log-level"),
                                         QStringLiteral("warn")});
    if (!process->waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("etcd member %1 did not start: %2")
                             .arg(index)
                             .arg(process->errorString());
        return false;
    }
    m_members[index] = process;
    return true;
}

bool EtcdCluster::waitServing(int index, QString *error)
{
    // A member serves once the cluster has a leader; its health answer
    // says so, with or without authentication enabled.
    QNetworkAccessManager network;
    const bool serving = waitUntil(
            [&]() {
                if (!m_members.at(index) || m_members.at(index)->state() != QProcess::Running)
                    return true;
                QNetworkRequest request(QUrl(clientUrl(index) + QStringLiteral("/health")));
                request.setTransferTimeout(2000);
                std::unique_ptr<QNetworkReply> reply(network.get(request));
                QEventLoop loop;
                QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
                loop.exec();
                if (reply->error() == QNetworkReply::NoError
                    && reply->readAll().contains("\"health\":\"true\""))
                    return true;
                QTest::qWait(100);
                return false;
            },
            START_MS);
    if (serving && m_members.at(index) && m_members.at(index)->state() == QProcess::Running)
        return true;
    if (error) {
        QFile log(QStringLiteral("%1/m%2.log").arg(m_baseDir).arg(index));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("etcd member %1 does not serve; its log ends:\n%2")
                         .arg(index)
                         .arg(QString::fromLocal8Bit(log.readAll().right(2000)));
    }
    return false;
}

void EtcdCluster::stopMember(int index)
{
    const std::shared_ptr<QProcess> process = m_members.at(index);
    m_members[index] = nullptr;
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

void EtcdCluster::stopAll()
{
    for (int i = 0; i < MEMBERS; ++i)
        stopMember(i);
}

QString EtcdCluster::clientUrl(int index) const
{
    return url(m_clientPorts.at(index));
}

QString EtcdCluster::clientUrls() const
{
    QStringList urls;
    for (int i = 0; i < MEMBERS; ++i)
        urls.append(clientUrl(i));
    return urls.join(QLatin1Char(','));
}

QByteArray EtcdCluster::etcdctl(const QStringList &arguments, bool *ok) const
{
    QStringList running;
    for (int i = 0; i < MEMBERS; ++i) {
        if (m_members.at(i) && m_members.at(i)->state() == QProcess::Running)
            running.append(clientUrl(i));
    }
    QProcess process;
    process.start(QLatin1String(ETCDCTL),
                  QStringList {QStringLiteral("--endpoints"), running.join(QLatin1Char(',')),
                               QStringLiteral("--command-timeout=5s")}
                          + arguments);
    const bool done = process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit
                      && process.exitCode() == 0;
    if (ok)
        *ok = done;
    return done ? process.readAllStandardOutput() : QByteArray();
}

QByteArray EtcdCluster::value(const QByteArray &key, bool *ok) const
{
    QByteArray text = etcdctl(
            {QStringLiteral("get"), QString::fromUtf8(key), QStringLiteral("--print-value-only")},
            ok);
    if (text.endsWith('\n'))
        text.chop(1);
    return text;
}
