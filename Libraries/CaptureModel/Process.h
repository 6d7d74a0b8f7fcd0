#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace Profiler {

/// The CPU usage of a process at one time.
struct CPUUsageSample {
    QX_RTTI_STRUCT(CPUUsageSample);

    double mTime = 0.0;
    int32_t mPercentage = 0;
};

/// What is known of a process beyond its identity, when the recorder could find out.
class OptionalProcessInfo : public RTTI::Object {
public:
    QX_RTTI_CLASS(OptionalProcessInfo);

    int32_t mParentProcessID = 0;
    std::string mCommandLine;
    int32_t mCPUUsagePercentage = 0;
    std::vector<CPUUsageSample> mCPUUsageSamples;
};

/// A recorded process.
struct Process {
    QX_RTTI_STRUCT(Process);

    Process() = default;
    Process(const Process& other) { *this = other; }
    Process& operator=(const Process& other);
    Process(Process&&) = default;
    Process& operator=(Process&&) = default;

    int32_t mID = 0; ///< the operating system's process ID
    int32_t mDisplayID = 0;
    std::string mName;
    std::string mPath;
    bool mIs64Bit = true;
    double mStartTimeMs = 0.0;
    double mEndTimeMs = 0.0;
    std::vector<int32_t> mThreadOrder; ///< the process's thread IDs in display order
    std::unique_ptr<OptionalProcessInfo> mOptionalProcessInfo;
};

} // namespace Profiler
