#include "spacecheckstrategy.h"

SpaceCheckStrategy::SpaceCheckStrategy(Logger *logger)
    : m_logger(logger)
{ }

SpaceCheckStrategy::~SpaceCheckStrategy() = default;

void SpaceCheckStrategy::setReposPolicy(int value)
{
    m_reposPolicy = value;
}

int SpaceCheckStrategy::reposPolicy() const
{
    return m_reposPolicy;
}
