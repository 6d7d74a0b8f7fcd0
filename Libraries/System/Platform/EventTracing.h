#pragma once

#include <cstddef>
#include <cstdint>

// Instrumentation events for external trace sessions. A module writes its events only while a
// session listens, so that instrumented code costs one check otherwise. POSIX systems offer no
// such session to a process, so there nothing ever listens and writing does nothing.

namespace System::Platform {

/// One field of an event: bytes copied as they are.
struct TraceEventField {
    const void* data = nullptr;
    uint32_t size = 0;
};

/// Whether a trace session currently listens to this process's instrumentation events.
bool IsEventTracingEnabled();

/// Writes one event made of `fieldCount` fields; does nothing while nobody listens.
void WriteTraceEvent(uint16_t eventId, const TraceEventField* fields, std::size_t fieldCount);

} // namespace System::Platform
