#pragma once

// An in-memory capture for open bar processing: stacks written as text, events in a vector,
// broken-stack ranges and a fiber state, behind the same interfaces as a real session.
//
// Stacks are written outermost first, "main;work;leaf". A frame's instruction address is its
// function's address + 0x10 unless given as "leaf+0x24". Caller addresses are all ones (so
// dumps stay short) unless the capture is made with real callers, when each frame's caller is
// the frame address of the frame above it.

#include "CallGraphText.h"

#include "CallGraphModel/IBrokenStackCursor.h"
#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/ITraceEventSource.h"
#include "CallGraphModel/OpenBarFiberState.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace CallGraphTest {

inline constexpr Profiler::ThreadID kThread1{1};
inline constexpr Profiler::ThreadID kThread2{2};

struct BrokenRange {
    double start;
    double end;
    uint64_t closingStackId;
};

/// A stack for an event: written as text, given by its ID, or none (empty).
struct StackRef {
    StackRef() = default;
    StackRef(const char* text) : Text(text) {}
    StackRef(std::string text) : Text(std::move(text)) {}
    StackRef(uint64_t id) : Id(id) {}

    std::string Text;
    uint64_t Id = Profiler::kNoStackId;
};

class TestCapture final : public Profiler::IOpenBarInput {
public:
    explicit TestCapture(double sampleInterval = 1.0, bool realCallers = false);

    FunctionNames& GetNames() { return mNames; }
    const FunctionNames& GetNames() const { return mNames; }

    /// The ID of a stack written as text (the same text gives the same ID).
    uint64_t Stack(const std::string& text);
    /// A stack of explicit frames.
    uint64_t AddStack(std::vector<Profiler::ResolvedFrame> frames);
    /// The ID of a stack of explicit frames (equal frames give the same ID).
    uint64_t InternStack(const std::vector<Profiler::ResolvedFrame>& frames);

    // Events, appended in the order given; SortEvents orders them by time (stable).
    void Sample(double time, Profiler::ThreadID thread, const StackRef& stack);
    void SwitchOut(double time, Profiler::ThreadID thread, uint8_t waitReason);
    void SwitchIn(double time, Profiler::ThreadID thread, const StackRef& stack = {});
    void ZoneBegin(double time, Profiler::ThreadID thread, const StackRef& stack, const std::string& zone);
    void ZoneEnd(double time, Profiler::ThreadID thread);
    void StackWithoutTime(double time, Profiler::ThreadID thread, const StackRef& stack, bool kind17 = false);
    void Status(double time, Profiler::ThreadID thread, uint8_t status, bool kind12 = false);
    void ContextOut(double time, Profiler::ThreadID thread, uint64_t contextId);
    void ContextIn(double time, Profiler::ThreadID thread, uint64_t contextId);
    void Other(double time, Profiler::ThreadID thread, Profiler::ETraceEventKind kind);
    void SortEvents();
    const std::vector<Profiler::TraceEvent>& GetEvents() const { return mEvents; }

    void AddBrokenRange(Profiler::ThreadID thread, const BrokenRange& range);
    void SetThreadStart(Profiler::ThreadID thread, double time)
    {
        mThreadStarts[static_cast<uint32_t>(thread)] = time;
    }
    void SetCaptureStart(double time) { mCaptureStart = time; }
    /// The zone key that a zone name resolves to.
    Profiler::ResolvedAddress Zone(const std::string& name) { return mNames.Get("!" + name); }
    Profiler::OpenBarFiberState& GetFibers() { return mFibers; }

    // IOpenBarInput
    double GetSampleInterval() const override { return mSampleInterval; }
    double GetCaptureStartTime() const override { return mCaptureStart; }
    double GetThreadStartTime(Profiler::ThreadID thread) const override;
    bool ResolveStack(Profiler::ThreadID thread, uint64_t stackId, double time,
                      std::vector<Profiler::ResolvedFrame>& frames) const override;
    Profiler::ResolvedAddress ResolveZone(const Profiler::TraceEvent& event) const override;
    std::unique_ptr<Profiler::IBrokenStackCursor> CreateBrokenStackCursor(Profiler::ThreadID thread,
                                                                          double time) const override;
    Profiler::IOpenBarFiberState* GetFiberState() const override { return &mFibers; }
    std::unique_ptr<Profiler::ITraceEventSource> CreateEventSource() const override;

private:
    std::string_view Intern(const std::string& text);
    uint64_t Resolve(const StackRef& stack) { return stack.Text.empty() ? stack.Id : Stack(stack.Text); }

    double mSampleInterval;
    bool mRealCallers;
    double mCaptureStart = 0.0;
    FunctionNames mNames;
    std::map<std::string, uint64_t> mStackIds;
    std::unordered_map<std::string, uint64_t> mInterned;       ///< frame bytes -> stack ID
    std::vector<std::vector<Profiler::ResolvedFrame>> mStacks; ///< stack ID i + 1
    std::vector<Profiler::TraceEvent> mEvents;
    std::deque<std::string> mStrings;
    std::map<std::string, Profiler::ResolvedAddress> mZones;
    std::map<uint32_t, std::vector<BrokenRange>> mBrokenRanges;
    std::map<uint32_t, double> mThreadStarts;
    mutable Profiler::OpenBarFiberState mFibers;
};

/// Reads a vector of events in time order, for a set of threads, with or without zone events.
class VectorEventSource final : public Profiler::ITraceEventSource {
public:
    explicit VectorEventSource(const std::vector<Profiler::TraceEvent>& events) : mEvents(&events) {}

    void SetThreads(std::span<const Profiler::ThreadID> threads) override;
    void SetZonesEnabled(bool enabled) override { mZones = enabled; }
    bool Seek(double time) override;
    bool Next(Profiler::TraceEvent& event, double endTime) override;
    std::unique_ptr<Profiler::ITraceEventSource> Clone() const override
    {
        return std::make_unique<VectorEventSource>(*this);
    }
    bool HasFailed() const override { return false; }
    void GetErrors(Serialization::ErrorList&) const override {}

private:
    const std::vector<Profiler::TraceEvent>* mEvents; // not owned
    std::size_t mPosition = 0;
    bool mZones = false;
    bool mAllThreads = true;
    std::vector<Profiler::ThreadID> mThreads;
};

} // namespace CallGraphTest
