#pragma once

#include "CallGraphModel/ITraceEventSource.h"
#include "CaptureModel/TraceEventStreamReader.h"

#include <memory>
#include <vector>

namespace Profiler {

class TraceEventStream;

/// Reads a loaded capture's trace event stream for open bar processing: a stream reader with
/// the thread set and zone switch that processors and queries ask for.
class SessionEventSource final : public ITraceEventSource {
public:
    /// A reader over every thread, zones off, at the stream's start. The stream must outlive it.
    explicit SessionEventSource(const TraceEventStream& stream);

    void SetThreads(std::span<const ThreadID> threads) override;
    void SetZonesEnabled(bool enabled) override;
    bool Seek(double time) override;
    bool Next(TraceEvent& event, double endTime) override;
    std::unique_ptr<ITraceEventSource> Clone() const override;
    bool HasFailed() const override;
    void GetErrors(Serialization::ErrorList& errors) const override;

private:
    const TraceEventStream& mStream; // not owned
    TraceEventStreamReader mReader;
    bool mAllThreads = true;
    std::vector<ThreadID> mThreads;
};

} // namespace Profiler
