#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/ResolvedAddress.h"
#include "CaptureModel/ResolvedFrame.h"
#include "CaptureModel/TraceEvent.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace Profiler {

class IBrokenStackCursor;
class IOpenBarFiberState;
class ITraceEventSource;

/// What open bar processing reads of a capture: its timing facts, call stacks resolved to
/// functions, the ranges of unrooted stacks, the shared fiber state and the event stream.
/// Every operation may be called from several threads at once (queries run on job threads
/// while capture processing or other queries run).
class IOpenBarInput {
public:
    virtual ~IOpenBarInput() = default;

    /// The sampling interval in milliseconds.
    virtual double GetSampleInterval() const = 0;
    virtual double GetCaptureStartTime() const = 0;
    /// No event of the capture lies after this time (ms); infinity when it is not known.
    virtual double GetLastEventTime() const { return std::numeric_limits<double>::infinity(); }
    virtual double GetThreadStartTime(ThreadID thread) const = 0;

    /// Fills `frames` with the stack's frames, outermost first, resolved as seen by `thread` at
    /// `time`. False (or no frames) when the stack is unknown. Processors remember the answer per
    /// stack ID, so a stack resolves the same way for the whole capture.
    virtual bool ResolveStack(ThreadID thread, uint64_t stackId, double time,
                              std::vector<ResolvedFrame>& frames) const = 0;
    /// As ResolveStack, with the node ID of each frame in `nodes`, taking the outer frames that
    /// the stack shares with `previous` (an earlier answer for the same thread, with its node
    /// IDs) from there. An input that knows no node IDs leaves `nodes` empty.
    virtual bool ResolveStackAfter(ThreadID thread, uint64_t stackId, double time,
                                   std::span<const ResolvedFrame> previous,
                                   std::span<const uint64_t> previousNodes,
                                   std::vector<ResolvedFrame>& frames, std::vector<uint64_t>& nodes) const
    {
        (void)previous;
        (void)previousNodes;
        nodes.clear();
        return ResolveStack(thread, stackId, time, frames);
    }
    /// The function key of the zone that a zone begin event opens; it carries the
    /// instrumentation-zone bit.
    virtual ResolvedAddress ResolveZone(const TraceEvent& event) const = 0;

    /// A cursor over the thread's ranges of unrooted stacks, positioned for `time`; null when
    /// the capture has no broken-stack index.
    virtual std::unique_ptr<IBrokenStackCursor> CreateBrokenStackCursor(ThreadID thread,
                                                                        double time) const = 0;
    /// Where saved fiber states live; null when the capture keeps none.
    virtual IOpenBarFiberState* GetFiberState() const = 0;
    /// A new reader over the capture's events: every thread, zones off, at the start.
    virtual std::unique_ptr<ITraceEventSource> CreateEventSource() const = 0;
};

} // namespace Profiler
