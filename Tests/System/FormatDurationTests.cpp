#include "System/FormatDuration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using System::FormatDuration;

TEST(FormatDuration, ReadsTheWayEveryViewShowsIt)
{
    EXPECT_EQ(FormatDuration(0), "0ns");
    EXPECT_EQ(FormatDuration(0.0004), "400ns");
    EXPECT_EQ(FormatDuration(1234.5678), "1s 234ms 567\u00b5s");
    EXPECT_EQ(FormatDuration(3600000.5), "1h 0m 0s 0ms 500\u00b5s"); // zeros between are printed
    EXPECT_EQ(FormatDuration(60000), "1m");                          // trailing zeros are not
    EXPECT_EQ(FormatDuration(0.001), "1\u00b5s");
    EXPECT_EQ(FormatDuration(1), "1ms");
    EXPECT_EQ(FormatDuration(999.999), "999ms 999\u00b5s");
    EXPECT_EQ(FormatDuration(1000), "1s");
    EXPECT_EQ(FormatDuration(59999), "59s 999ms");
    EXPECT_EQ(FormatDuration(3599999), "59m 59s 999ms");
    EXPECT_EQ(FormatDuration(3600000), "1h");
    EXPECT_EQ(FormatDuration(90061001), "25h 1m 1s 1ms"); // hours do not wrap at a day
}

TEST(FormatDuration, LeadingZerosPadOnlySubSecondUnitsAfterTheFirst)
{
    EXPECT_EQ(FormatDuration(1005, 4, false), "1s 005ms");
    EXPECT_EQ(FormatDuration(5.0625, 4, false), "5ms 062\u00b5s");
    EXPECT_EQ(FormatDuration(3660005, 4, false), "1h 1m 0s 005ms");
    EXPECT_EQ(FormatDuration(0.0004, 4, false), "400ns");
}

TEST(FormatDuration, SmallestUnitCutsTheTextOrReadsZero)
{
    EXPECT_EQ(FormatDuration(1234.5678, 3), "1s 234ms");
    EXPECT_EQ(FormatDuration(1234.5678, 2), "1s");
    EXPECT_EQ(FormatDuration(7200000, 0), "2h");
    EXPECT_EQ(FormatDuration(3601000, 1), "1h 0m");
    EXPECT_EQ(FormatDuration(0.5, 3), "0ms");                       // first non-zero unit is finer
    EXPECT_EQ(FormatDuration(60000, 0), "0h");                      // likewise
    EXPECT_EQ(FormatDuration(0, 2), "0s");                          // all zero above microseconds
    EXPECT_EQ(FormatDuration(1234.5678, 9), "1s 234ms 567\u00b5s"); // out of range: clamped
    EXPECT_EQ(FormatDuration(1234.5678, -3), "0h");
}

TEST(FormatDuration, NegativeAndNonFiniteSpansStayReadable)
{
    EXPECT_EQ(FormatDuration(-1234.5678), "-1s 234ms 567\u00b5s");
    EXPECT_EQ(FormatDuration(-0.0), "0ns");
    EXPECT_EQ(FormatDuration(std::nan("")), "0ns");
    // The end-of-capture time saturates instead of overflowing.
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::max()).rfind("2147483647h", 0), 0u);
}

} // namespace
