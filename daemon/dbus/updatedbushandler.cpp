#include "updatedbushandler.h"

#include "daemon.h"
#include "failedreply.h"
#include "updatedbusadaptor.h"

UpdateDBusHandler::UpdateDBusHandler(Daemon *daemon, QObject *parent)
    : QObject(parent)
    , QDBusContext()
    , m_adaptor(new UpdateDBusAdaptor(this))
    , m_daemon(daemon)
{ }

QString UpdateDBusHandler::getUpdateDateAsString()
{
    return replyOrFail(*this, QString(), [this] { return m_daemon->getUpdateDateAsString(); });
}

QString UpdateDBusHandler::getCurrentStateAsString()
{
    return replyOrFail(*this, QString(), [this] { return m_daemon->getCurrentStateAsString(); });
}

int UpdateDBusHandler::getCurrentStateAsInt()
{
    return replyOrFail(*this, -3, [this] { return m_daemon->getCurrentStateAsInt(); });
}

int UpdateDBusHandler::getCurrentErrorAsInt()
{
    return replyOrFail(*this, -4, [this] { return m_daemon->getCurrentErrorAsInt(); });
}

int UpdateDBusHandler::enableUpgradeOnReboot()
{
    return replyOrFail(*this, -1, [this] { return m_daemon->enableUpgradeOnReboot(); });
}

int UpdateDBusHandler::disableUpgradeOnReboot()
{
    // A client may never suppress the forced-mode refusal.
    return replyOrFail(*this, -1, [this] { return m_daemon->disableUpgradeOnReboot(false); });
}

int UpdateDBusHandler::setStateFromOutside(int stateAsInt)
{
    return replyOrFail(*this, -1,
                       [this, stateAsInt] { return m_daemon->setStateFromOutside(stateAsInt); });
}

bool UpdateDBusHandler::isUpgradeOnRebootEnabled()
{
    return replyOrFail(*this, false, [this] { return m_daemon->isUpgradeOnRebootEnabled(); });
}

int UpdateDBusHandler::removeUpgradeResultStamp(int type)
{
    return replyOrFail(*this, -1,
                       [this, type] { return m_daemon->removeUpgradeResultStamp(type); });
}

QString UpdateDBusHandler::getMinorUpdateVersion()
{
    return replyOrFail(*this, QString(), [this] { return m_daemon->getMinorUpdateVersion(); });
}

int UpdateDBusHandler::enableAndStartActivatingService()
{
    return replyOrFail(*this, -5, [this] {
        m_daemon->enableAndStartActivatingService();
        return 0;
    });
}
