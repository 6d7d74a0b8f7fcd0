#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/TraceEvent.h"

#include <limits>
#include <memory>
#include <span>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// Reads a capture's events in time order from a position, for a set of threads, with or
/// without the instrumentation zone events (kinds 7, 8 and 9).
class ITraceEventSource {
public:
    virtual ~ITraceEventSource() = default;

    /// Reads only these threads' events from now on.
    virtual void SetThreads(std::span<const ThreadID> threads) = 0;
    virtual void SetZonesEnabled(bool enabled) = 0;
    /// Positions the reader at the first event at or after `time`; false when the stream
    /// cannot be read.
    virtual bool Seek(double time) = 0;
    /// The next wanted event whose time is below `endTime`; false at `endTime`, at the end of the
    /// stream or on a read failure (HasFailed). The reader stays at the first event it did not
    /// hand out.
    virtual bool Next(TraceEvent& event, double endTime = std::numeric_limits<double>::infinity()) = 0;
    /// A reader at the same position with the same threads and zone switch.
    virtual std::unique_ptr<ITraceEventSource> Clone() const = 0;

    virtual bool HasFailed() const = 0;
    /// Appends the read failures to `errors`.
    virtual void GetErrors(Serialization::ErrorList& errors) const = 0;
};

} // namespace Profiler
