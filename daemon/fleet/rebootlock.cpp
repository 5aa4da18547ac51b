#include "rebootlock.h"

RebootLock::~RebootLock() = default;
