#include "updatedbushandler.h"

#include "constants.h"
#include "daemon.h"
#include "failedreply.h"
#include "polkitauthority.h"
#include "restartpolicy.h"
#include "statusdbusadaptor.h"
#include "statuspublisher.h"
#include "updatedbusadaptor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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
{
    new UpdateDBusAdaptor(this);
    new StatusDBusAdaptor(this);
}

std::shared_ptr<const StatusSnapshot> UpdateDBusHandler::snapshot() const
{
    return m_publisher->current();
}

std::shared_ptr<const StatusSnapshot> UpdateDBusHandler::read()
{
    count(&m_readCalls);
    return snapshot();
}

void UpdateDBusHandler::count(int *counter)
{
    if (!m_summaryWindow.isValid())
        m_summaryWindow.start();
    ++*counter;
    if (!m_summaryWindow.hasExpired(SUMMARY_INTERVAL_MS))
        return;
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
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    if (!action) {
        dispatch(call, bus, change);
        return fallback;
    }
    m_authority->check(bus, call.service(), QLatin1String(action),
                       [this, call, bus, change](bool allowed) {
                           if (allowed) {
                               dispatch(call, bus, change);
                               return;
                           }
                           refuse(call, bus);
                       });
    return fallback;
}

void UpdateDBusHandler::refuse(const QDBusMessage &call, const QDBusConnection &bus)
{
    count(&m_refusedCalls);
    bus.send(call.createErrorReply(QDBusError::AccessDenied,
                                   QStringLiteral("Not authorized to call %1").arg(call.member())));
}

void UpdateDBusHandler::withCaller(const QDBusMessage &call, const QDBusConnection &bus,
                                   std::function<void(bool known, uint uid)> then)
{
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("GetConnectionUnixUser"))
                             << call.service();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [then](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> uid = *finished;
                then(!uid.isError(), uid.isError() ? 0 : uid.value());
            });
}

int UpdateDBusHandler::postponeRestart()
{
    RestartPolicy *policy = m_restartPolicy;
    if (!calledFromDBus() || !policy)
        return RestartPolicy::NothingPlanned;
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    withCaller(call, bus, [this, call, bus, policy](bool known, uint uid) {
        const QString who = QStringLiteral("uid %1 (%2)").arg(uid).arg(call.service());
        if (known && uid == 0) {
            dispatch(call, bus, [policy, who](Daemon *) { return policy->postpone(true, who); });
            return;
        }
        // Anybody else as polkit decides, and only before the deadline.
        m_authority->check(bus, call.service(), QLatin1String(POSTPONE_RESTART_ACTION),
                           [this, call, bus, policy, who](bool allowed) {
                               if (!allowed) {
                                   refuse(call, bus);
                                   return;
                               }
                               dispatch(call, bus, [policy, who](Daemon *) {
                                   return policy->postpone(false, who);
                               });
                           });
    });
    return RestartPolicy::NothingPlanned;
}

int UpdateDBusHandler::cancelRestart()
{
    RestartPolicy *policy = m_restartPolicy;
    if (!calledFromDBus() || !policy)
        return RestartPolicy::NothingPlanned;
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    // Root only, even where a local bus policy lets others call.
    withCaller(call, bus, [this, call, bus, policy](bool known, uint uid) {
        if (!known || uid != 0) {
            refuse(call, bus);
            return;
        }
        const QString who = QStringLiteral("uid 0 (%1)").arg(call.service());
        dispatch(call, bus, [policy, who](Daemon *) { return policy->cancel(who); });
    });
    return RestartPolicy::NothingPlanned;
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

qlonglong UpdateDBusHandler::restartPlanned() const
{
    return StatusSnapshot::unixTime(snapshot()->restart.planned);
}

QString UpdateDBusHandler::restartBlocker() const
{
    return snapshot()->restart.blocker;
}
