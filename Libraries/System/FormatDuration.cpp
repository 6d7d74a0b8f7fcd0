#include "System/FormatDuration.h"

#include "Utility/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace System {
namespace {

constexpr int kUnitCount = 5;
constexpr int kMicroseconds = 4;
constexpr const char* kUnitNames[kUnitCount] = {"h", "m", "s", "ms", "\xC2\xB5s"};

// Truncates toward zero into 32 bits, saturating instead of overflowing (the end-of-capture
// time is the largest double) and reading NaN as 0.
int32_t ToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string FormatMagnitude(double x, int smallestUnit, bool noLeadingZeros)
{
    const double fraction = x - std::floor(x);
    const int32_t values[kUnitCount] = {
        ToInt32(std::floor(x / 3.6e6)),         ToInt32(std::fmod(x / 60000.0, 60.0)),
        ToInt32(std::fmod(x / 1000.0, 60.0)),   ToInt32(std::fmod(x, 1000.0)),
        ToInt32(std::floor(fraction * 1000.0)),
    };
    const int32_t nanoseconds = ToInt32(std::floor(fraction * 1000000.0));

    int first = 0;
    while (first < kUnitCount && values[first] == 0)
        ++first;
    if (first == kUnitCount && smallestUnit >= kMicroseconds)
        return Utility::Format("%dns", nanoseconds);
    if (first > smallestUnit)
        return Utility::Format("0%s", kUnitNames[smallestUnit]);

    int last = kMicroseconds;
    while (last > first && values[last] == 0)
        --last;
    const int end = std::min(smallestUnit, last);
    std::string text;
    for (int i = first; i <= end; ++i) {
        // Hours, minutes and seconds are never padded; the sub-second units are when asked.
        const bool padded = !noLeadingZeros && i >= 3 && i != first;
        if (i != first)
            text += ' ';
        text += Utility::Format(padded ? "%03d%s" : "%d%s", values[i], kUnitNames[i]);
    }
    return text;
}

} // namespace

std::string FormatDuration(double milliseconds, int smallestUnit, bool noLeadingZeros)
{
    smallestUnit = std::clamp(smallestUnit, 0, kMicroseconds);
    // No view shows negative spans; should one arrive it reads as its magnitude with a sign
    // rather than as a mix of negative unit values.
    if (milliseconds < 0.0) {
        // A span that reads as zero ("0ns", "0ms") gets no sign.
        std::string text = FormatMagnitude(-milliseconds, smallestUnit, noLeadingZeros);
        return text[0] == '0' ? text : "-" + text;
    }
    return FormatMagnitude(milliseconds, smallestUnit, noLeadingZeros);
}

} // namespace System
