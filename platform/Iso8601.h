#pragma once

#include "platform/Clock.h"

#include <string>

namespace doorwarden {

// Internet date-time in UTC with milliseconds, e.g. "2026-01-31T09:15:02.125Z".
std::string formatIso8601Utc(Clock::WallTime time);

} // namespace doorwarden
