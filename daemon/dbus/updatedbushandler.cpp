// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatedbushandler.h"

#include "constants.h"
#include "daemon.h"
#include "failedreply.h"
#include "polkitauthority.h"
#include "rebootslotkeeper.h"
#include "restartpolicy.h"
#include "restartrequests.h"
#include "statusdbusadaptor.h"
#include "statuspublisher.h"
#include "updatedbusadaptor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaObject>

#include <exception>

const char *const UpdateDBusHandler::ARM_ACTION = "os.kirtalinux.zun.kirtaupdateservice.arm";
const char *const UpdateDBusHandler::DISARM_ACTION = "os.kirtalinux.zun.kirtaupdateservice.disarm";
const char *const UpdateDBusHandler::CLEAR_RESULT_ACTION
        = "os.kirtalinux.zun.kirtaupdateservice.clear-result";
const char *const UpdateDBusHandler::POSTPONE_RESTART_ACTION
        = "os.kirtalinux.zun.kirtaupdateservice.postpone-restart";

UpdateDBusHandler::UpdateDBusHandler(Daemon *daemon, StatusPublisher *publisher, QObject *parent)
    : QObject(parent)
    , QDBusContext()
    , m_daemon(daemon)
    , m_publisher(publisher)
    , m_logger(LOG_FILE_PATH, Logger::Info)
    , m_authority(new PolkitAuthority(this))
    , m_restartRequests(new RestartRequests(
              m_authority,
              [this](const QDBusMessage &call, const QDBusConnection &bus,
                     RestartRequests::Step step) {
                  dispatch(call, bus, [step](Daemon *) { return step(); });
              },
              [this](const QDBusMessage &call, const QDBusConnection &bus) { refuse(call, bus); },
              this))
{
    new UpdateDBusAdaptor(this);
    new StatusDBusAdaptor(this);
}

void UpdateDBusHandler::setRestartPolicy(RestartPolicy *policy)
{
    m_restartRequests->setRestartPolicy(policy);
}

void UpdateDBusHandler::setSlotKeeper(RebootSlotKeeper *keeper)
{
    m_restartRequests->setSlotKeeper(keeper);
}

std::shared_ptr<const StatusSnapshot> UpdateDBusHandler::snapshot() const
{
    return m_publisher->current();
}

std::shared_ptr<const StatusSnapshot> UpdateDBusHandler::read()
{
    count(&m_readCalls);
    // A sender's first call, whatever it is, is when its uid can still be
    // learnt for the changes it may send later without waiting.
    if (calledFromDBus())
        m_authority->remember(connection(), message().service());
    return snapshot();
}

void UpdateDBusHandler::followLogLevel()
{
    m_logger.setLevel(Logger::Level(snapshot()->logLevel));
}

void UpdateDBusHandler::count(int *counter)
{
    if (!m_summaryWindow.isValid())
        m_summaryWindow.start();
    ++*counter;
    if (!m_summaryWindow.hasExpired(SUMMARY_INTERVAL_MS))
        return;
    followLogLevel();
    m_logger.info(QStringLiteral("Answered %1 read calls and refused %2 changes in the last %3 s")
                          .arg(m_readCalls)
                          .arg(m_refusedCalls)
                          .arg(m_summaryWindow.restart() / 1000));
    m_readCalls = 0;
    m_refusedCalls = 0;
}

int UpdateDBusHandler::change(int fallback, Change change, const char *action)
{
    if (!calledFromDBus())
        return replyOrFail(*this, fallback, [&] { return change(m_daemon); });

    setDelayedReply(true);
    const QString sender = message().service();
    auto queued = std::make_shared<QueuedChange>(QueuedChange {message(), connection(), change});
    m_queues[sender].append(queued);
    if (!action) {
        // The bus policy has decided; the uid serves the sender's next calls.
        m_authority->remember(connection(), sender);
        queued->verdict = QueuedChange::Verdict::Allowed;
        runDecided(sender);
        return fallback;
    }
    m_authority->check(connection(), sender, QLatin1String(action),
                       [this, queued, sender](bool allowed) {
                           queued->verdict = allowed ? QueuedChange::Verdict::Allowed
                                                     : QueuedChange::Verdict::Refused;
                           runDecided(sender);
                       });
    return fallback;
}

void UpdateDBusHandler::runDecided(const QString &sender)
{
    auto queue = m_queues.find(sender);
    if (queue == m_queues.end())
        return;
    followLogLevel();
    while (!queue->isEmpty() && queue->first()->verdict != QueuedChange::Verdict::Waiting) {
        const std::shared_ptr<QueuedChange> next = queue->takeFirst();
        // Refusals are only counted: anybody may send them.
        if (next->verdict == QueuedChange::Verdict::Allowed) {
            m_logger.debug(QStringLiteral("void UpdateDBusHandler::runDecided(const QString&)"),
                           QStringLiteral("%1 from %2").arg(next->call.member(), sender));
            dispatch(next->call, next->bus, next->change);
            continue;
        }
        refuse(next->call, next->bus);
    }
    if (queue->isEmpty())
        m_queues.erase(queue);
}

void UpdateDBusHandler::refuse(const QDBusMessage &call, const QDBusConnection &bus)
{
    count(&m_refusedCalls);
    bus.send(call.createErrorReply(QDBusError::AccessDenied,
                                   QStringLiteral("Not authorized to call %1").arg(call.member())));
}

int UpdateDBusHandler::postponeRestart()
{
    if (calledFromDBus() && m_restartRequests->postpone(message(), connection()))
        setDelayedReply(true);
    return RestartPolicy::NothingPlanned;
}

int UpdateDBusHandler::cancelRestart()
{
    if (calledFromDBus() && m_restartRequests->cancel(message(), connection()))
        setDelayedReply(true);
    return RestartPolicy::NothingPlanned;
}

int UpdateDBusHandler::releaseRebootLock()
{
    if (calledFromDBus() && m_restartRequests->releaseLock(message(), connection()))
        setDelayedReply(true);
    return RebootSlotKeeper::NothingHeld;
}

void UpdateDBusHandler::dispatch(const QDBusMessage &call, const QDBusConnection &bus,
                                 const Change &change)
{
    Daemon *daemon = m_daemon;
    StatusPublisher *publisher = m_publisher;
    QMetaObject::invokeMethod(
            m_daemon,
            [call, bus, daemon, publisher, change]() mutable {
                QDBusMessage reply;
                try {
                    reply = call.createReply(change(daemon));
                } catch (const std::exception &e) {
                    reply = call.createErrorReply(QDBusError::Failed, QString::fromUtf8(e.what()));
                }
                // A client that reads right after the answer sees the change.
                publisher->publish();
                bus.send(reply);
            },
            Qt::QueuedConnection);
}

QString UpdateDBusHandler::getUpdateDateAsString()
{
    return read()->updateDateText();
}

QString UpdateDBusHandler::getCurrentStateAsString()
{
    return read()->stateWord(QDateTime::currentDateTime());
}

int UpdateDBusHandler::getCurrentStateAsInt()
{
    return read()->stateNumber(QDateTime::currentDateTime());
}

int UpdateDBusHandler::getCurrentErrorAsInt()
{
    return read()->error;
}

int UpdateDBusHandler::enableUpgradeOnReboot()
{
    return change(
            -1, [](Daemon *daemon) { return daemon->enableUpgradeOnReboot(); }, ARM_ACTION);
}

int UpdateDBusHandler::disableUpgradeOnReboot()
{
    // A client may never suppress the forced-mode refusal.
    return change(
            -1, [](Daemon *daemon) { return daemon->disableUpgradeOnReboot(false); },
            DISARM_ACTION);
}

int UpdateDBusHandler::setStateFromOutside(int stateAsInt)
{
    return change(-1,
                  [stateAsInt](Daemon *daemon) { return daemon->setStateFromOutside(stateAsInt); });
}

bool UpdateDBusHandler::isUpgradeOnRebootEnabled()
{
    return read()->armed;
}

int UpdateDBusHandler::removeUpgradeResultStamp(int type)
{
    StatusPublisher *publisher = m_publisher;
    return change(
            -1,
            [type, publisher](Daemon *daemon) {
                const int result = daemon->removeUpgradeResultStamp(type);
                publisher->refreshResultStamps();
                return result;
            },
            CLEAR_RESULT_ACTION);
}

QString UpdateDBusHandler::getMinorUpdateVersion()
{
    return read()->versionText();
}

int UpdateDBusHandler::enableAndStartActivatingService()
{
    return change(-5, [](Daemon *daemon) {
        daemon->enableAndStartActivatingService();
        return 0;
    });
}

int UpdateDBusHandler::state() const
{
    return snapshot()->stateNumber(QDateTime::currentDateTime());
}

QString UpdateDBusHandler::stateName() const
{
    return snapshot()->stateWord(QDateTime::currentDateTime());
}

int UpdateDBusHandler::error() const
{
    return snapshot()->error;
}

QString UpdateDBusHandler::targetRelease() const
{
    return snapshot()->version;
}

qlonglong UpdateDBusHandler::deadline() const
{
    return StatusSnapshot::unixTime(snapshot()->deadline);
}

bool UpdateDBusHandler::forced() const
{
    return snapshot()->forcedMode;
}

bool UpdateDBusHandler::armed() const
{
    return snapshot()->armed;
}

QStringList UpdateDBusHandler::packages() const
{
    return snapshot()->packageNames();
}

qlonglong UpdateDBusHandler::lastCheck() const
{
    return StatusSnapshot::unixTime(snapshot()->lastCheck);
}

QString UpdateDBusHandler::lastResult() const
{
    return snapshot()->lastResult;
}

QString UpdateDBusHandler::health() const
{
    return snapshot()->health.result;
}

QStringList UpdateDBusHandler::healthReasons() const
{
    return snapshot()->health.reasons;
}

qlonglong UpdateDBusHandler::healthChecked() const
{
    return StatusSnapshot::unixTime(snapshot()->health.checked);
}

QString UpdateDBusHandler::downloadHeld() const
{
    return snapshot()->power.downloadHeld;
}

QString UpdateDBusHandler::postponedForPower() const
{
    return snapshot()->power.postponedForPower;
}

qlonglong UpdateDBusHandler::restartPlanned() const
{
    return StatusSnapshot::unixTime(snapshot()->restart.planned);
}

QString UpdateDBusHandler::restartBlocker() const
{
    return snapshot()->restart.blocker;
}

bool UpdateDBusHandler::rebootLockHeld() const
{
    return snapshot()->rebootLock.held;
}

qlonglong UpdateDBusHandler::rebootLockSince() const
{
    return StatusSnapshot::unixTime(snapshot()->rebootLock.since);
}

QString UpdateDBusHandler::rebootLockText() const
{
    return snapshot()->rebootLock.text;
}
