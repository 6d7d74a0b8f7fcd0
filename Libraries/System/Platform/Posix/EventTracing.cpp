#include "System/Platform/EventTracing.h"

namespace System::Platform {

bool IsEventTracingEnabled()
{
    return false;
}

void WriteTraceEvent(uint16_t, const TraceEventField*, std::size_t) {}

} // namespace System::Platform
