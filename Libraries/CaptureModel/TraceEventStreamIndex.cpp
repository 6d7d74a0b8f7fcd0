#include "CaptureModel/TraceEventStream.h"

namespace Profiler {

bool TraceEventStream::SaveIndex(const std::filesystem::path&, Serialization::ErrorList&) const
{
    return true;
}

} // namespace Profiler
