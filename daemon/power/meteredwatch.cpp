// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "meteredwatch.h"

#include "constants.h"
#include "statussnapshot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

#include <limits>

namespace {
const QString NM_SERVICE = QStringLiteral("org.freedesktop.NetworkManager");
const QString NM_PATH = QStringLiteral("/org/freedesktop/NetworkManager");
const QString NM_INTERFACE = QStringLiteral("org.freedesktop.NetworkManager");
const QString METERED = QStringLiteral("Metered");

// NMMetered: 0 unknown, 1 yes, 2 no, 3 guessed yes, 4 guessed no.
bool meteredValue(const QVariant &value)
{
    const uint metered = value.toUInt();
    return metered == 1 || metered == 3;
}
} // namespace

MeteredWatch::MeteredWatch(QObject *parent)
    : QObject(parent)
    , m_logger(LOG_FILE_PATH, Logger::Info)
    , m_deadlineTimer(new QTimer(this))
{
    m_deadlineTimer->setSingleShot(true);
    connect(m_deadlineTimer, &QTimer::timeout, this, &MeteredWatch::m_decide);
}

void MeteredWatch::start()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(NM_SERVICE, NM_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(m_propertiesChanged(QString, QVariantMap, QStringList)));
    auto *owner = new QDBusServiceWatcher(NM_SERVICE, bus, QDBusServiceWatcher::WatchForOwnerChange,
                                          this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                if (newOwner.isEmpty())
                    m_setMetered(false);
                else
                    m_read();
            });
    m_read();
}

void MeteredWatch::m_read()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
            NM_SERVICE, NM_PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
    get << NM_INTERFACE << METERED;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        // No NetworkManager, or one that cannot say: not metered.
        if (w->isError() || reply.arguments().isEmpty()) {
            m_setMetered(false);
            return;
        }
        m_setMetered(meteredValue(reply.arguments().constFirst().value<QDBusVariant>().variant()));
    });
}

void MeteredWatch::m_propertiesChanged(const QString &interface, const QVariantMap &changed,
                                       const QStringList &invalidated)
{
    if (interface != NM_INTERFACE)
        return;
    if (changed.contains(METERED))
        m_setMetered(meteredValue(changed.value(METERED)));
    else if (invalidated.contains(METERED))
        m_read();
}

void MeteredWatch::m_setMetered(bool metered)
{
    if (metered == m_metered)
        return;
    m_metered = metered;
    m_decide();
}

void MeteredWatch::setAllowMetered(bool allow)
{
    if (allow == m_allowMetered)
        return;
    m_allowMetered = allow;
    m_decide();
}

void MeteredWatch::follow(const StatusSnapshot &snapshot)
{
    if (snapshot.forcedMode == m_forced && snapshot.deadline == m_deadline)
        return;
    m_forced = snapshot.forcedMode;
    m_deadline = snapshot.deadline;
    m_decide();
}

void MeteredWatch::m_decide()
{
    const QDateTime now = QDateTime::currentDateTime();
    const bool deadlinePassed = m_deadline.isValid() && now >= m_deadline;
    const QString hold = m_metered && !m_allowMetered && !m_forced && !deadlinePassed
                                 ? QStringLiteral("metered connection")
                                 : QString();
    // The deadline lifts the hold by itself.
    if (!hold.isEmpty() && m_deadline.isValid()) {
        const qint64 msec = qBound<qint64>(0, now.msecsTo(m_deadline) + 1000,
                                           std::numeric_limits<int>::max());
        m_deadlineTimer->start(int(msec));
    } else {
        m_deadlineTimer->stop();
    }
    if (hold == m_hold)
        return;
    m_hold = hold;
    m_logger.info(hold.isEmpty() ? QStringLiteral("Downloads may start: %1")
                                           .arg(m_metered ? QStringLiteral("metered connection "
                                                                           "allowed")
                                                          : QStringLiteral("connection not "
                                                                           "metered"))
                                 : QStringLiteral("Downloads wait: the connection is metered"));
    Q_EMIT holdChanged(hold);
}
