#include "donotcheckfreespace.h"

#include "logger.h"

DoNotCheckFreeSpace::DoNotCheckFreeSpace(Logger *logger)
    : SpaceCheckStrategy(logger)
{ }

DoNotCheckFreeSpace::~DoNotCheckFreeSpace() = default;

bool DoNotCheckFreeSpace::check()
{
    if (m_logger)
        m_logger->warning(QStringLiteral("do not check free space"));
    return true;
}
