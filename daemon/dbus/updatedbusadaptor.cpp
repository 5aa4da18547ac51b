#include "updatedbusadaptor.h"

#include "updatedbushandler.h"

UpdateDBusAdaptor::UpdateDBusAdaptor(UpdateDBusHandler *parent)
    : QDBusAbstractAdaptor(parent)
    , m_handler(parent)
{ }

QString UpdateDBusAdaptor::getUpdateDateAsString()
{
    return m_handler->getUpdateDateAsString();
}

QString UpdateDBusAdaptor::getCurrentStateAsString()
{
    return m_handler->getCurrentStateAsString();
}

int UpdateDBusAdaptor::getCurrentStateAsInt()
{
    return m_handler->getCurrentStateAsInt();
}

int UpdateDBusAdaptor::getCurrentErrorAsInt()
{
    return m_handler->getCurrentErrorAsInt();
}

int UpdateDBusAdaptor::enableUpgradeOnReboot()
{
    return m_handler->enableUpgradeOnReboot();
}

int UpdateDBusAdaptor::disableUpgradeOnReboot()
{
    return m_handler->disableUpgradeOnReboot();
}

int UpdateDBusAdaptor::setStateFromOutside(int stateAsInt)
{
    return m_handler->setStateFromOutside(stateAsInt);
}

bool UpdateDBusAdaptor::isUpgradeOnRebootEnabled()
{
    return m_handler->isUpgradeOnRebootEnabled();
}

int UpdateDBusAdaptor::removeUpgradeResultStamp(int type)
{
    return m_handler->removeUpgradeResultStamp(type);
}

QString UpdateDBusAdaptor::getMinorUpdateVersion()
{
    return m_handler->getMinorUpdateVersion();
}

int UpdateDBusAdaptor::enableAndStartActivatingService()
{
    return m_handler->enableAndStartActivatingService();
}
