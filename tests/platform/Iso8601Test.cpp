#include "platform/Iso8601.h"

#include <gtest/gtest.h>

using namespace doorwarden;
using namespace std::chrono;

TEST(Iso8601Test, FormatsUtcWithMilliseconds)
{
    const std::pair<Clock::WallTime, const char*> cases[] = {
        {Clock::WallTime{}, "1970-01-01T00:00:00.000Z"},
        {Clock::WallTime{seconds(1'769'850'902) + milliseconds(125)}, "2026-01-31T09:15:02.125Z"},
        // Sub-millisecond parts are cut, never rounded up into the next second.
        {Clock::WallTime{sys_days(2024y / 2 / 29).time_since_epoch() + hours(23) + minutes(59) + seconds(59) +
                         microseconds(999'999)},
         "2024-02-29T23:59:59.999Z"},
        {Clock::WallTime{milliseconds(-1)}, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto& [time, expected] : cases) {
        EXPECT_EQ(formatIso8601Utc(time), expected);
    }
}
