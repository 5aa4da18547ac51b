#include "updatedbushandler.h"

#include "constants.h"
#include "daemon.h"
#include "failedreply.h"
#include "statusdbusadaptor.h"
#include "statuspublisher.h"
#include "updatedbusadaptor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaObject>

#include <exception>

UpdateDBusHandler::UpdateDBusHandler(Daemon *daemon, StatusPublisher *publisher, QObject *parent)
    : QObject(parent)
    , QDBusContext()
    , m_daemon(daemon)
    , m_publisher(publisher)
    , m_logger(LOG_FILE_PATH, Logger::Info)
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
    if (!m_readWindow.isValid())
        m_readWindow.start();
    ++m_readCalls;
    if (m_readWindow.hasExpired(READ_SUMMARY_INTERVAL_MS)) {
        m_logger.info(QStringLiteral("Answered %1 read calls in the last %2 s")
                              .arg(m_readCalls)
                              .arg(m_readWindow.restart() / 1000));
        m_readCalls = 0;
    }
    return snapshot();
}

int UpdateDBusHandler::change(int fallback, Change change)
{
    if (!calledFromDBus())
        return replyOrFail(*this, fallback, [&] { return change(m_daemon); });

    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
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
    return fallback;
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
    return change(-1, [](Daemon *daemon) { return daemon->enableUpgradeOnReboot(); });
}

int UpdateDBusHandler::disableUpgradeOnReboot()
{
    // A client may never suppress the forced-mode refusal.
    return change(-1, [](Daemon *daemon) { return daemon->disableUpgradeOnReboot(false); });
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
    return change(-1, [type, publisher](Daemon *daemon) {
        const int result = daemon->removeUpgradeResultStamp(type);
        publisher->refreshResultStamps();
        return result;
    });
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
