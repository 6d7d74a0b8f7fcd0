#include "CallGraphModel/SessionOpenBarInput.h"

#include "CallGraphModel/SessionBrokenStackCursor.h"
#include "CallGraphModel/SessionEventSource.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/StackResolver.h"
#include "CaptureModel/TraceEventStream.h"

#include <limits>

namespace Profiler {

SessionOpenBarInput::SessionOpenBarInput(const Session& session) : mSession(session)
{
    for (const Thread& thread : session.GetThreadList())
        mProcessByThread.emplace(static_cast<uint32_t>(thread.mThreadID), thread.mProcessID);
    if (const SharedModel* shared = session.GetSharedModel())
        LoadFiberState(*shared);
}

double SessionOpenBarInput::GetSampleInterval() const
{
    return mSession.GetSampleIntervalMs();
}

double SessionOpenBarInput::GetCaptureStartTime() const
{
    return mSession.GetStartTimeMs();
}

double SessionOpenBarInput::GetLastEventTime() const
{
    const TraceEventStream* stream = mSession.GetTraceEventStream();
    if (stream == nullptr || stream->GetChunks().empty())
        return std::numeric_limits<double>::infinity();
    // The chunks follow one another in time; each records the time of its last event.
    return stream->GetChunks().back().mEndTime;
}

double SessionOpenBarInput::GetThreadStartTime(ThreadID thread) const
{
    return mSession.GetThreadStartTimeMs(static_cast<int32_t>(thread));
}

bool SessionOpenBarInput::ResolveStack(ThreadID thread, uint64_t stackId, double time,
                                       std::vector<ResolvedFrame>& frames) const
{
    auto found = mProcessByThread.find(static_cast<uint32_t>(thread));
    // A thread the session does not list still has its stacks; they resolve outside any process
    // and name only modules mapped at absolute addresses.
    const int32_t process = found != mProcessByThread.end() ? found->second : 0;
    return mSession.ResolveStack(process, stackId, time, frames);
}

bool SessionOpenBarInput::ResolveStackAfter(ThreadID thread, uint64_t stackId, double time,
                                            std::span<const ResolvedFrame> previous,
                                            std::span<const uint64_t> previousNodes,
                                            std::vector<ResolvedFrame>& frames,
                                            std::vector<uint64_t>& nodes) const
{
    const StackResolver* resolver = mSession.GetStackResolver();
    if (resolver == nullptr)
        return IOpenBarInput::ResolveStackAfter(thread, stackId, time, previous, previousNodes, frames,
                                                nodes);
    auto found = mProcessByThread.find(static_cast<uint32_t>(thread));
    const int32_t process = found != mProcessByThread.end() ? found->second : 0;
    return resolver->ResolveAfter(process, stackId, time, previous, previousNodes, frames, nodes);
}

ResolvedAddress SessionOpenBarInput::ResolveZone(const TraceEvent& event) const
{
    return ModuleDatabase::ZoneFunction(event.text[0]);
}

std::unique_ptr<IBrokenStackCursor> SessionOpenBarInput::CreateBrokenStackCursor(ThreadID thread,
                                                                                 double time) const
{
    const BrokenStackReader* reader = mSession.GetBrokenStackReader();
    if (reader == nullptr)
        return nullptr;
    auto cursor = std::make_unique<SessionBrokenStackCursor>(*reader, thread);
    uint64_t closing = 0;
    cursor->Find(time, closing);
    return cursor;
}

std::unique_ptr<ITraceEventSource> SessionOpenBarInput::CreateEventSource() const
{
    const TraceEventStream* stream = mSession.GetTraceEventStream();
    if (stream == nullptr)
        return nullptr;
    return std::make_unique<SessionEventSource>(*stream);
}

void SessionOpenBarInput::ClearFiberState()
{
    mFibers.Assign({}, {});
}

void SessionOpenBarInput::LoadFiberState(const SharedModel& shared)
{
    const OpenBarProcessorFiberState stored = shared.GetFiberState();
    OpenBarFiberState::FiberStates states;
    states.reserve(stored.mFiberStates.size());
    for (const auto& state : stored.mFiberStates) {
        std::vector<SavedFiberBar>& bars = states.emplace_back();
        for (const auto& bar : state.mBars)
            bars.push_back(
                {bar.mInstrumentationContextID, bar.mLastAbsoluteAddress, bar.mReturnAddress, bar.mFrame});
    }
    OpenBarFiberState::FiberEvents events;
    for (const auto& [context, list] : stored.mFiberEvents) {
        std::vector<OpenBarFiberState::FiberEvent>& target = events[context];
        for (const auto& event : list)
            target.push_back({event.mEventTimeMs, event.mFiberStateIndex});
    }
    mFibers.Assign(std::move(states), std::move(events));
}

void SessionOpenBarInput::StoreFiberState(SharedModel& shared) const
{
    OpenBarProcessorFiberState stored;
    for (const auto& state : mFibers.GetFiberStates()) {
        auto& bars = stored.mFiberStates.emplace_back().mBars;
        for (const SavedFiberBar& bar : state)
            bars.push_back(
                {bar.InstrumentationContextID, bar.LastAbsoluteAddress, bar.ReturnAddress, bar.Frame});
    }
    for (const auto& [context, list] : mFibers.GetFiberEvents()) {
        auto& target = stored.mFiberEvents[context];
        for (const auto& event : list)
            target.push_back({event.EventTimeMs, event.FiberStateIndex});
    }
    shared.SetFiberState(std::move(stored));
}

} // namespace Profiler
