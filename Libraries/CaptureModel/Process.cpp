#include "CaptureModel/Process.h"

namespace Profiler {

Process& Process::operator=(const Process& other)
{
    if (this == &other)
        return *this;
    mID = other.mID;
    mDisplayID = other.mDisplayID;
    mName = other.mName;
    mPath = other.mPath;
    mIs64Bit = other.mIs64Bit;
    mStartTimeMs = other.mStartTimeMs;
    mEndTimeMs = other.mEndTimeMs;
    mThreadOrder = other.mThreadOrder;
    mOptionalProcessInfo = other.mOptionalProcessInfo
                               ? std::make_unique<OptionalProcessInfo>(*other.mOptionalProcessInfo)
                               : nullptr;
    return *this;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::CPUUsageSample, 1)
{
    type.Property("Time", &CPUUsageSample::mTime).Property("Percentage", &CPUUsageSample::mPercentage);
}

QX_RTTI_DEFINE_CLASS(Profiler::OptionalProcessInfo, 1)
{
    type.Property("ParentProcessID", &OptionalProcessInfo::mParentProcessID)
        .Property("CommandLine", &OptionalProcessInfo::mCommandLine)
        .Property("CPUUsagePercentage", &OptionalProcessInfo::mCPUUsagePercentage)
        .Property("CPUUsageSamples", &OptionalProcessInfo::mCPUUsageSamples);
}

QX_RTTI_DEFINE_CLASS(Profiler::Process, 1)
{
    type.Property("ID", &Process::mID)
        .Property("DisplayID", &Process::mDisplayID)
        .Property("Name", &Process::mName)
        .Property("Path", &Process::mPath)
        .Property("Is64Bit", &Process::mIs64Bit)
        .Property("StartTimeMs", &Process::mStartTimeMs)
        .Property("EndTimeMs", &Process::mEndTimeMs)
        .Property("ThreadOrder", &Process::mThreadOrder)
        .Property("OptionalProcessInfo", &Process::mOptionalProcessInfo);
}
