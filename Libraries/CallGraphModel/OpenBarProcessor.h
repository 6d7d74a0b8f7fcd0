#pragma once

#include "CallGraphModel/IOpenBarFiberState.h"
#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/OpenBar.h"
#include "CallGraphModel/ResolvedStackCache.h"
#include "CaptureModel/TraceEvent.h"
#include "Utility/Signal.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

class IBrokenStackCursor;
class RecordReader;

/// Turns the trace events of one thread into open bars: the frames of the thread's current
/// stack, each accumulating time per thread state while it stays on the stack. When bars leave
/// the stack the processor emits its bar-closing signal with the whole bar stack and the index
/// of the first closed bar; subscribers (the call graph routers) turn closed bars into nodes.
///
/// Choices where the event rules leave room:
/// - Unrooted stacks (inside a range of the broken-stack index) are placed under an
///   "[Unrooted Stacks]" bar, itself under the best guess of where they belong: the frames of
///   the rooted stack that closed the range, up to (not including) its innermost frame that
///   runs the unrooted stack's outermost function, or all but its innermost frame when no frame
///   does. With no closing stack the "[Unrooted Stacks]" bar is outermost.
/// - Stacks without time (kinds 3 and 17) and zone begins (kinds 7 and 9) are accepted, like
///   samples, in state 1 or 9 (9 becomes 1); they close and open bars but charge no time, so
///   they do not report an applied stack.
/// - Kind 16 restores the bars that the context's most recent fiber event before the event
///   time saved: the bars from the first instrumentation zone of the saved list on are
///   opened at the event time above the thread's bars below its outermost zone bar (which
///   close). Zone bars opened later inherit the context of the zone bar below them (0 when
///   there is none).
/// - A bar that opened while wait time was pending (its gap is shorter than the pending
///   total) is charged its whole gap as Executing: the pending waits cannot be placed in it.
/// - The flag of the bar-closing signal is true for reporting calls (no bar closes).
class OpenBarProcessor {
public:
    /// The reporting interval of capture processing, in ms.
    static constexpr float kProcessingReportingInterval = 500.0f;
    /// The reporting interval of queries, which report nothing.
    static constexpr float kNoReportingInterval = std::numeric_limits<float>::max();
    static constexpr double kLowestTime = std::numeric_limits<double>::lowest();

    /// (bars, first closed index, reporting interval index, reporting interval time, is report)
    using BarsClosedSignal = Utility::Signal<std::span<const OpenBar>, int, int, double, bool>;
    using BarsClosedCallback = BarsClosedSignal::Callback;

    /// A processor for `thread` with no bars and an unknown state; its broken-stack cursor is
    /// positioned for `startTime`. `stacks` is shared with copies (null: a cache of its own).
    OpenBarProcessor(const IOpenBarInput& input, ThreadID thread, bool reportingOff, float reportingInterval,
                     double startTime, std::shared_ptr<ResolvedStackCache> stacks = nullptr);
    ~OpenBarProcessor();
    OpenBarProcessor(const OpenBarProcessor&) = delete;
    OpenBarProcessor& operator=(const OpenBarProcessor&) = delete;

    /// Applies one event; times charged never pass `limit`. True when the event applied a call
    /// stack that charged time (a sample, or a context switch in whose stack applied).
    bool HandleEvent(const TraceEvent& event, double limit);
    /// Every open bar's end time becomes min(end, time); time charged beyond it is taken back.
    void ClampTo(double time);
    /// Closes every open bar (first closed index 0).
    void CloseAll();

    [[nodiscard]] Utility::SignalRegistration SubscribeBarsClosed(BarsClosedCallback callback)
    {
        return mBarsClosed.Connect(std::move(callback));
    }

    /// Appends the serialized state (thread, bars, pending times, state, broken-stack position,
    /// kept prefix; little-endian, no padding).
    void Serialize(std::vector<uint8_t>& out) const;
    /// Replaces the bars and state with a serialized state of the same thread. On malformed data
    /// returns false with an error and leaves the processor as it was.
    bool Deserialize(RecordReader& reader, Serialization::ErrorList& errors);
    /// Steps over one serialized state; false (with an error) when it is malformed.
    static bool SkipSerialized(RecordReader& reader, Serialization::ErrorList& errors);
    /// A new processor with this one's state (serialized and read back), sharing its stack cache.
    std::unique_ptr<OpenBarProcessor> Copy(bool reportingOff, float reportingInterval) const;

    ThreadID GetThreadId() const { return mThread; }
    /// 1..7 as EThreadState, kThreadStateUndetermined or kThreadStateEnded.
    uint8_t GetState() const { return mState; }
    std::span<const OpenBar> GetBars() const { return {mBars.data(), mBarCount}; }
    const StateTimeArray& GetPendingTimes() const { return mPendingTimes; }
    bool HasPending() const { return mPending; }
    double GetLastSwitchTime() const { return mLastSwitchTime; }
    uint32_t GetKeptPrefix() const { return mKeptPrefix; }
    uint32_t GetBrokenStackState() const { return mBrokenStackState; }
    int GetLastReportedInterval() const { return mLastReportedInterval; }
    double GetLastReportedTime() const { return mLastReportedTime; }
    const IOpenBarInput& GetInput() const { return mInput; }
    bool IsReportingOff() const { return mReportingOff; }
    float GetReportingInterval() const { return mReportingInterval; }

    /// The broken-stack state values.
    static constexpr uint32_t kRooted = 0;
    static constexpr uint32_t kUnrootedWithClosingStack = 1;
    static constexpr uint32_t kUnrootedAtTop = 2;

private:
    enum class EApplyMode : uint8_t { Sample, Wait, NoTime };
    struct WaitInfo {
        uint8_t state = 0;
        double start = 0.0;
    };

    bool HandleSample(const TraceEvent& event, double limit);
    void HandleSwitchOut(const TraceEvent& event, double limit);
    bool HandleSwitchIn(const TraceEvent& event, double limit);
    void HandleZoneBegin(const TraceEvent& event, double limit);
    void HandleZoneEnd(const TraceEvent& event, double limit);
    void HandleStackWithoutTime(const TraceEvent& event, double limit);
    void HandleContextOut(const TraceEvent& event, double limit);
    void HandleContextIn(const TraceEvent& event, double limit);

    void UpdateBrokenStackState(double time);
    /// The frames to apply for a stack at `time`, unrooted stacks already placed.
    std::span<const ResolvedFrame> ResolveFrames(uint64_t stackId, double time);
    /// Matches, closes and opens bars for `frames` (not empty) and charges time by `mode`.
    void ApplyStack(std::span<const ResolvedFrame> frames, double time, double limit, EApplyMode mode,
                    const WaitInfo& wait);
    void ExtendForSample(OpenBar& bar, double target) const;
    void ExtendForWait(OpenBar& bar, double target, const WaitInfo& wait, double waitStart) const;
    void ClearPending();
    /// Emits the reporting call when `time` lies in a new reporting interval.
    void ReportInterval(double time);
    /// Reports the boundary that a charged wait crossed, with the bars as they were there.
    void ReportWaitBoundary(double waitStart, double waitEnd);
    int GetIntervalIndex(double time) const;

    OpenBar& PushBar();
    void CloseFrom(uint32_t index);
    void EmitReport(int intervalIndex, double time);
    int FindInnermostZone() const;
    int FindOutermostZone() const;

    const IOpenBarInput& mInput; // not owned
    ThreadID mThread;
    uint8_t mState = kThreadStateUndetermined;
    double mSampleInterval;
    StateTimeArray mPendingTimes{};
    bool mPending = false;
    double mLastSwitchTime = 0.0;
    uint32_t mBrokenStackState = kRooted;
    uint64_t mClosingStackId = ~uint64_t{0};
    std::unique_ptr<IBrokenStackCursor> mBrokenStacks;
    uint32_t mKeptPrefix = 0;
    float mReportingInterval;
    bool mReportingOff;
    int mLastReportedInterval = -1;
    double mLastReportedTime = kLowestTime;

    /// Slots [0, mBarCount) are the open bars; later slots keep their storage for reuse.
    std::vector<OpenBar> mBars;
    std::size_t mBarCount = 0;
    BarsClosedSignal mBarsClosed{"OpenBarProcessor bars closed"};

    std::shared_ptr<ResolvedStackCache> mStacks;
    std::vector<ResolvedFrame> mComposed;     ///< an unrooted stack under its placement
    std::vector<ResolvedFrame> mUnrooted;     ///< the unrooted stack's own frames
    std::vector<SavedFiberBar> mFiberScratch; ///< bars saved or restored
    std::vector<StateTimeArray> mTimesScratch;
    std::vector<double> mEndScratch;
};

} // namespace Profiler
