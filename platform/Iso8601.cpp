#include "platform/Iso8601.h"

#include <cstdio>

namespace doorwarden {

std::string formatIso8601Utc(Clock::WallTime time)
{
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time.time_since_epoch());
    const auto days = floor<std::chrono::days>(milliseconds);
    const year_month_day date{sys_days(days)};
    const hh_mm_ss clock{milliseconds - days};

    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

} // namespace doorwarden
