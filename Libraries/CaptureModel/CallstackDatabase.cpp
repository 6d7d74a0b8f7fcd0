#include "CaptureModel/CallstackDatabase.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::CallstackKey, 1) {}

QX_RTTI_DEFINE_CLASS(Profiler::Callstack, 1) {}

QX_RTTI_DEFINE_CLASS(Profiler::CallstackDatabase, 1)
{
    type.Property("StacksByID", &CallstackDatabase::mStacksByID);
}

bool CallstackDatabase::GetCallstack(uint64_t, std::vector<uint64_t>& frames) const
{
    frames.clear();
    return false;
}

} // namespace Profiler
