// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "statuspublisher.h"

#include "constants.h"
#include "daemon.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

StatusPublisher::StatusPublisher(Daemon *daemon, QObject *parent)
    : QObject(parent)
    , m_daemon(daemon)
    , m_current(std::make_shared<const StatusSnapshot>())
{ }

std::shared_ptr<const StatusSnapshot> StatusPublisher::current() const
{
    QMutexLocker lock(&m_mutex);
    return m_current;
}

void StatusPublisher::follow()
{
    if (m_following)
        return;
    // What is there at the start is no change.
    refreshResultStamps();
    connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::aboutToBlock,
            this, &StatusPublisher::publish);
    m_following = true;
}

void StatusPublisher::refreshResultStamps()
{
    // A failure stamp wins: it is the one that asks for attention.
    if (QFile::exists(MINOR_FAIL_STAMP_PATH))
        m_lastResult = QStringLiteral("unsuccessful");
    else if (QFile::exists(MINOR_SUCCESS_STAMP_PATH))
        m_lastResult = QStringLiteral("successful");
    // The offline upgrade makes the stamp as it begins and renames it when
    // it has installed, which keeps the time.
    const QDateTime success = QFileInfo(MINOR_SUCCESS_STAMP_PATH).lastModified();
    if (success.isValid())
        m_lastSuccess = success;
    else
        m_lastResult = QStringLiteral("none");
    publish();
}

void StatusPublisher::setHealthStatus(const HealthStatus &health)
{
    m_health = health;
    publish();
}

void StatusPublisher::setPowerStatus(const PowerStatus &power)
{
    m_power = power;
    publish();
}

void StatusPublisher::setRestartStatus(const RestartStatus &status)
{
    if (status == m_restart)
        return;
    m_restart = status;
    // Queued: the policy may tell this while a publication is under way, and
    // an event also wakes a loop that would otherwise sleep on.
    QMetaObject::invokeMethod(this, &StatusPublisher::publish, Qt::QueuedConnection);
}

void StatusPublisher::setRebootLockStatus(const RebootLockStatus &status)
{
    if (status == m_rebootLock)
        return;
    m_rebootLock = status;
    QMetaObject::invokeMethod(this, &StatusPublisher::publish, Qt::QueuedConnection);
}

void StatusPublisher::setMetricsFile(const QString &path)
{
    if (path == m_metricsPath)
        return;
    m_metricsPath = path;
    if (m_published)
        m_metrics.write(m_metricsPath, *current());
}

void StatusPublisher::publish()
{
    StatusSnapshot next = m_daemon->statusSnapshot();
    next.lastResult = m_lastResult;
    next.health = m_health;
    next.power = m_power;
    next.restart = m_restart;
    next.rebootLock = m_rebootLock;
    next.lastSuccess = m_lastSuccess;
    const QDateTime now = QDateTime::currentDateTime();
    const QString word = next.stateWord(now);
    if (word != m_publishedWord || !m_stateChanged.isValid())
        m_stateChanged = now;
    next.stateChanged = m_stateChanged;
    // The state also turns from "activated" to "forced" when the deadline
    // passes, with no member changed.
    const int state = next.stateNumber(now);
    if (state == m_publishedState && next == *current())
        return;
    const QVariantMap properties = next.properties(now);
    m_metrics.write(m_metricsPath, next);
    m_published = true;
    {
        QMutexLocker lock(&m_mutex);
        m_current = std::make_shared<const StatusSnapshot>(std::move(next));
    }
    m_publishedState = state;
    m_publishedWord = word;
    QVariantMap changed;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        if (m_properties.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_properties = properties;
    if (m_following && !changed.isEmpty())
        announce(changed);
    Q_EMIT published(current());
}

void StatusPublisher::announce(const QVariantMap &changed)
{
    QDBusMessage signal = QDBusMessage::createSignal(
            DBUS_OBJECT_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
    signal << DBUS_STATUS_INTERFACE_NAME << changed << QStringList();
    QDBusConnection::systemBus().send(signal);
}
