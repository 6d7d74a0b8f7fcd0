#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <string>

namespace Profiler {

/// A recorded thread.
struct Thread {
    QX_RTTI_STRUCT(Thread);

    int32_t mProcessID = 0;
    int32_t mThreadID = 0;
    int32_t mDisplayThreadID = 0;
    std::string mThreadName;
    double mStartTimeMs = 0.0;
    double mEndTimeMs = 0.0;
};

} // namespace Profiler
