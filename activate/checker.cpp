// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "checker.h"

#include "buscontract.h"
#include "daemonbus.h"
#include "daemonproxy.h"
#include "updatestate.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {
const int MAJOR_ARMED = 4;
const int SETTLE_TIMEOUT_MS = 5000;

// Errors meaning that nobody serves the daemon's object: the daemon is not
// (or no longer, or not yet fully) on the bus.
bool daemonAbsent(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}
} // namespace

Checker::Checker(QObject *parent)
    : QObject(parent)
    , m_dbusService(nullptr)
{
    buildInterface();
}

Checker::~Checker()
{
    settleBus();
}

void Checker::settleBus()
{
    // QtDBus decodes each reply on its own thread and wakes the caller
    // waiting for it before it is done with it: it still announces a failed
    // call to the connection's listeners and drops its own hold. A process
    // that exits in that window leaves the reply and the sent call
    // half-released. The bus daemon's answer to one more call is handled on
    // the same thread, so once it is here every earlier reply is finished.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                            QStringLiteral("/org/freedesktop/DBus"),
                                            QStringLiteral("org.freedesktop.DBus.Peer"),
                                            QStringLiteral("Ping")),
             QDBus::Block, SETTLE_TIMEOUT_MS);
}

void Checker::buildInterface()
{
    m_interface = std::make_unique<DaemonProxy>(QLatin1String(DaemonBus::SERVICE),
                                                QLatin1String(DaemonBus::PATH),
                                                QDBusConnection::systemBus());
    m_interfaceStale = false;
}

bool Checker::interfaceUsable() const
{
    return !m_interfaceStale && m_interface->isValid();
}

void Checker::requestMinorActivation()
{
    m_armingWanted = true;
    sendArmingRequest();
}

void Checker::sendArmingRequest()
{
    // The reply is not waited for: arming takes longer than a call may.
    const QDBusPendingReply<int> call = m_interface->enableUpgradeOnReboot();
    m_armingDelivered = !call.isError();
    if (!m_armingDelivered)
        m_interfaceStale = true;
}

int Checker::checkDaemonState()
{
    if (!interfaceUsable())
        buildInterface();

    QDBusPendingReply<int> call = m_interface->getCurrentStateAsInt();
    if (call.isError()) {
        m_interfaceStale = true;
        m_armingDelivered = false;
        return CallFailed;
    }
    call.waitForFinished();
    if (call.isError()) {
        if (daemonAbsent(call.error())) {
            // Whatever was asked of an earlier daemon may be gone with it.
            m_interfaceStale = true;
            m_armingDelivered = false;
        }
        return NotArmed;
    }

    const int state = call.value();
    if (state == toInt(StateNumber::Activated) || state == toInt(StateNumber::Forced))
        return Armed;
    // The daemon answers now; a request it never got is made again.
    if (m_armingWanted && !m_armingDelivered)
        sendArmingRequest();
    return NotArmed;
}

int Checker::waitForMinorActivation()
{
    while (m_tryNumber < MAX_TRIES) {
        ++m_tryNumber;
        const unsigned left = pause();
        std::fprintf(stderr, "try number: %d sleep returned: %u\n", m_tryNumber, left);
        const int state = checkDaemonState();
        // No event loop runs: hand over the replies of unanswered calls
        // (the arming request) so that they do not pile up.
        QCoreApplication::processEvents();
        if (state == Armed)
            return Done;
    }
    return TimedOut;
}

void Checker::requestMajorActivation()
{
    m_dbusService.changeUpgradeState(true);
}

int Checker::waitForMajorActivation()
{
    while (m_tryNumber < MAX_TRIES) {
        ++m_tryNumber;
        pause();
        std::fprintf(stdout, "try number:%d\n", m_tryNumber);
        std::fflush(stdout);
        if (KirtaUpdateState::UpdateState::checkMajorUpdateState() == MAJOR_ARMED)
            return Done;
    }
    return TimedOut;
}

unsigned Checker::pause() const
{
#ifdef KIRTA_SANDBOX
    bool ok = false;
    const int milliseconds = qEnvironmentVariableIntValue(PAUSE_ENV, &ok);
    if (ok && milliseconds >= 0) {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
        return 0;
    }
#endif
    return ::sleep(PAUSE_SECONDS);
}
