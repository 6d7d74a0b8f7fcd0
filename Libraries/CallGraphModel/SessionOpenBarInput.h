#pragma once

#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/OpenBarFiberState.h"

#include <unordered_map>

namespace Profiler {

class Session;
class SharedModel;

/// What open bar processing reads of a loaded capture: the session's timing facts, its stacks
/// resolved through the session's stack resolver in the sampled thread's process, its broken
/// stack ranges, its event stream and a fiber state kept in memory and exchanged with the
/// session's shared model.
class SessionOpenBarInput final : public IOpenBarInput {
public:
    /// The session must outlive the input. The fiber state starts as the shared model holds it.
    explicit SessionOpenBarInput(const Session& session);

    double GetSampleInterval() const override;
    double GetCaptureStartTime() const override;
    double GetLastEventTime() const override;
    double GetThreadStartTime(ThreadID thread) const override;
    bool ResolveStack(ThreadID thread, uint64_t stackId, double time,
                      std::vector<ResolvedFrame>& frames) const override;
    bool ResolveStackAfter(ThreadID thread, uint64_t stackId, double time,
                           std::span<const ResolvedFrame> previous, std::span<const uint64_t> previousNodes,
                           std::vector<ResolvedFrame>& frames, std::vector<uint64_t>& nodes) const override;
    ResolvedAddress ResolveZone(const TraceEvent& event) const override;
    std::unique_ptr<IBrokenStackCursor> CreateBrokenStackCursor(ThreadID thread, double time) const override;
    IOpenBarFiberState* GetFiberState() const override { return &mFibers; }
    std::unique_ptr<ITraceEventSource> CreateEventSource() const override;

    const Session& GetSession() const { return mSession; }
    /// Forgets every saved fiber state (before the capture is processed again).
    void ClearFiberState();
    /// Replaces the fiber state with the shared model's.
    void LoadFiberState(const SharedModel& shared);
    /// Hands the fiber state that processing saved to the shared model.
    void StoreFiberState(SharedModel& shared) const;

private:
    const Session& mSession; // not owned
    /// The process of every known thread: stacks resolve in the process that sampled them.
    std::unordered_map<uint32_t, int32_t> mProcessByThread;
    mutable OpenBarFiberState mFibers;
};

} // namespace Profiler
