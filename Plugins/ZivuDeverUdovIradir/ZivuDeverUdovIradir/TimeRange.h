#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <limits>

namespace Profiler {

/// A span of capture time in milliseconds and the call depth it belongs to (0 for a range
/// selected on the timeline, the bar's depth for a selected call). The default is the whole
/// capture: from before its start to the largest finite time.
struct TimeRange {
    QX_RTTI_STRUCT(TimeRange);

    int32_t mDepth = 0;
    double mStartTime = -1.0;
    double mEndTime = std::numeric_limits<double>::max();

    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

} // namespace Profiler
