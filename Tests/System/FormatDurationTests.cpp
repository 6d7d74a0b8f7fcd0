#include "System/FormatDuration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace {

using System::FormatDuration;

TEST(FormatDuration, ReadsTheWayEveryViewShowsIt)
{
    // {milliseconds, smallest unit, no leading zeros, text}
    const std::tuple<double, int, bool, const char*> cases[] = {
        {0, 4, true, "0ns"},
        {0.0004, 4, true, "400ns"},
        {1234.5678, 4, true, "1s 234ms 567\u00b5s"},
        {3600000.5, 4, true, "1h 0m 0s 0ms 500\u00b5s"}, // zeros between are printed
        {60000, 4, true, "1m"},                          // trailing zeros are not
        {999.999, 4, true, "999ms 999\u00b5s"},
        {90061001, 4, true, "25h 1m 1s 1ms"}, // hours do not wrap at a day
        // Leading zeros pad only the sub-second units after the first.
        {1005, 4, false, "1s 005ms"},
        {5.0625, 4, false, "5ms 062\u00b5s"},
        {3660005, 4, false, "1h 1m 0s 005ms"},
        // The smallest unit cuts the text, or reads zero when the first non-zero unit is finer.
        {1234.5678, 3, true, "1s 234ms"},
        {3601000, 1, true, "1h 0m"},
        {0.5, 3, true, "0ms"},
        {0, 2, true, "0s"},
        {1234.5678, 9, true, "1s 234ms 567\u00b5s"}, // out of range: clamped
        {1234.5678, -3, true, "0h"},
        {-1234.5678, 4, true, "-1s 234ms 567\u00b5s"},
        {-0.0, 4, true, "0ns"},
        {std::nan(""), 4, true, "0ns"},
    };
    for (const auto& [ms, unit, noLeadingZeros, text] : cases)
        EXPECT_EQ(FormatDuration(ms, unit, noLeadingZeros), text) << ms << " " << unit;
    // The end-of-capture time saturates instead of overflowing.
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::max()).rfind("2147483647h", 0), 0u);
}

} // namespace
