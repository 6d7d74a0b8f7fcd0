#pragma once

#include "CaptureModel/Identifiers.h"

#include <atomic>
#include <memory>
#include <vector>

namespace Profiler {

class CallGraph;
class IOpenBarInput;

/// Call graphs computed the slow, obviously right way: every event of the selected threads
/// replayed from the capture's start, no snapshots. Range queries must agree with these; tests
/// compare against them and benchmarks measure what the snapshots save.
class CallGraphReplay {
public:
    /// The cumulative graph of `threads` at `time`, with the bars still open there closed at
    /// `time`. Null when the events cannot be read or the replay was canceled.
    static std::unique_ptr<CallGraph> Cumulative(const IOpenBarInput& input, const std::vector<ThreadID>& threads,
                                                 double time, const std::atomic<bool>& canceled);

    /// Cumulative(end) - Cumulative(start). Null on failure or cancel.
    static std::unique_ptr<CallGraph> Range(const IOpenBarInput& input, const std::vector<ThreadID>& threads,
                                            double start, double end, const std::atomic<bool>& canceled);
};

} // namespace Profiler
