#include "CallGraphModel/OpenBarProcessor.h"

#include "CallGraphModel/IBrokenStackCursor.h"

#include <algorithm>
#include <cmath>

namespace Profiler {

namespace {

constexpr uint8_t kExecuting = static_cast<uint8_t>(EThreadState::Executing);
constexpr uint8_t kUnknownWait = static_cast<uint8_t>(EThreadState::UnknownWaitState);
constexpr uint8_t kWaitReasonThreadEnded = 22;

bool IsRunnable(uint8_t state)
{
    return state == kExecuting || state == kThreadStateUndetermined;
}

bool SameFrame(const OpenBar& bar, const ResolvedFrame& frame)
{
    return bar.CallerAddress == frame.CallerAddress && bar.Function == frame.Function;
}

} // namespace

OpenBarProcessor::OpenBarProcessor(const IOpenBarInput& input, ThreadID thread, bool reportingOff,
                                   float reportingInterval, double startTime,
                                   std::shared_ptr<ResolvedStackCache> stacks)
    : mInput(input), mThread(thread), mSampleInterval(input.GetSampleInterval()),
      mBrokenStacks(input.CreateBrokenStackCursor(thread, startTime)), mReportingInterval(reportingInterval),
      mReportingOff(reportingOff),
      mStacks(stacks != nullptr ? std::move(stacks) : std::make_shared<ResolvedStackCache>())
{}

OpenBarProcessor::~OpenBarProcessor() = default;

bool OpenBarProcessor::HandleEvent(const TraceEvent& event, double limit)
{
    if (mState == kThreadStateEnded || event.threadId != mThread)
        return false;
    UpdateBrokenStackState(event.time);
    switch (event.kind) {
    case ETraceEventKind::Sample:
        return HandleSample(event, limit);
    case ETraceEventKind::ContextSwitchOut:
        HandleSwitchOut(event, limit);
        return false;
    case ETraceEventKind::ContextSwitchIn:
        return HandleSwitchIn(event, limit);
    case ETraceEventKind::ZoneBegin:
    case ETraceEventKind::ZoneBeginWithColour:
        HandleZoneBegin(event, limit);
        return false;
    case ETraceEventKind::ZoneEnd:
        HandleZoneEnd(event, limit);
        return false;
    case ETraceEventKind::StackWithoutTime:
    case ETraceEventKind::StackOnly:
        HandleStackWithoutTime(event, limit);
        return false;
    case ETraceEventKind::ThreadStatus:
    case ETraceEventKind::ThreadStatusWithValue:
        if (event.GetStatus() == 1 || event.GetStatus() == 2)
            mState = kThreadStateEnded;
        return false;
    case ETraceEventKind::InstrumentationContextOut:
        HandleContextOut(event, limit);
        return false;
    case ETraceEventKind::InstrumentationContextIn:
        HandleContextIn(event, limit);
        return false;
    default:
        return false;
    }
}

void OpenBarProcessor::ClampTo(double time)
{
    for (std::size_t i = 0; i < mBarCount; ++i)
        mBars[i].ClampTo(time);
}

void OpenBarProcessor::CloseAll()
{
    if (mBarCount > 0)
        CloseFrom(0);
}

bool OpenBarProcessor::HandleSample(const TraceEvent& event, double limit)
{
    if (!IsRunnable(mState))
        return false;
    mState = kExecuting;
    std::span<const ResolvedFrame> frames = ResolveFrames(event.stackId, event.time);
    if (frames.empty())
        return false;
    ApplyStack(frames, event.time, limit, EApplyMode::Sample, {});
    return true;
}

void OpenBarProcessor::HandleSwitchOut(const TraceEvent& event, double limit)
{
    const uint8_t reason = event.GetWaitReason();
    if (!IsRunnable(mState) && reason != kWaitReasonThreadEnded)
        return;
    ClampTo(std::min(event.time, limit));
    mState = reason == kWaitReasonThreadEnded ? kThreadStateEnded
                                              : static_cast<uint8_t>(GetThreadStateForWaitReason(reason));
    mLastSwitchTime = event.time;
}

bool OpenBarProcessor::HandleSwitchIn(const TraceEvent& event, double limit)
{
    if (mState == kExecuting)
        return false;
    WaitInfo wait;
    if (mState == kThreadStateUndetermined) {
        wait.state = kUnknownWait;
        wait.start = std::max(mInput.GetThreadStartTime(mThread), mInput.GetCaptureStartTime());
    } else {
        wait.state = mState;
        wait.start = mLastSwitchTime;
    }
    bool applied = false;
    if (event.time - wait.start > 0.0) {
        std::span<const ResolvedFrame> frames = ResolveFrames(event.stackId, event.time);
        if (!frames.empty()) {
            ApplyStack(frames, event.time, limit, EApplyMode::Wait, wait);
            applied = true;
        } else {
            mPendingTimes[wait.state] += std::min(event.time, limit) - std::min(wait.start, limit);
        }
    }
    mPending = true;
    mState = kExecuting;
    return applied;
}

void OpenBarProcessor::HandleZoneBegin(const TraceEvent& event, double limit)
{
    if (!IsRunnable(mState))
        return;
    mState = kExecuting;
    const double at = std::min(event.time, limit);
    uint64_t callerAddress = OpenBar::kNoAddress;
    std::span<const ResolvedFrame> frames = ResolveFrames(event.stackId, event.time);
    if (!frames.empty()) {
        callerAddress = frames.back().FrameAddress;
        ApplyStack(frames, event.time, limit, EApplyMode::NoTime, {});
    } else {
        ClampTo(at);
    }
    const int below = FindInnermostZone();
    const uint64_t context = below >= 0 ? mBars[below].InstrumentationContext : 0;
    OpenBar& zone = PushBar();
    zone.Open(mInput.ResolveZone(event), callerAddress, OpenBar::kNoAddress, at, at, kExecuting);
    zone.InstrumentationContext = context;
}

void OpenBarProcessor::HandleZoneEnd(const TraceEvent& event, double limit)
{
    ClampTo(std::min(event.time, limit));
    const int zone = FindInnermostZone();
    if (zone >= 0)
        CloseFrom(static_cast<uint32_t>(zone));
}

void OpenBarProcessor::HandleStackWithoutTime(const TraceEvent& event, double limit)
{
    if (!IsRunnable(mState))
        return;
    mState = kExecuting;
    std::span<const ResolvedFrame> frames = ResolveFrames(event.stackId, event.time);
    if (!frames.empty())
        ApplyStack(frames, event.time, limit, EApplyMode::NoTime, {});
}

void OpenBarProcessor::HandleContextOut(const TraceEvent& event, double limit)
{
    ClampTo(std::min(event.time, limit));
    const int outermost = FindOutermostZone();
    if (outermost < 0)
        return;
    IOpenBarFiberState* fibers = mInput.GetFiberState();
    // Only capture processing saves: replays find the states it saved.
    if (!mReportingOff && fibers != nullptr) {
        const int innermost = FindInnermostZone();
        mFiberScratch.clear();
        for (int i = 0; i <= innermost; ++i) {
            const OpenBar& bar = mBars[i];
            mFiberScratch.push_back(
                {bar.InstrumentationContext, bar.FrameAddress, bar.CallerAddress, bar.Function});
        }
        fibers->SaveFiberState(event.GetContextId(), event.time, mFiberScratch);
    }
    CloseFrom(static_cast<uint32_t>(outermost));
}

void OpenBarProcessor::HandleContextIn(const TraceEvent& event, double limit)
{
    const double at = std::min(event.time, limit);
    ClampTo(at);
    IOpenBarFiberState* fibers = mInput.GetFiberState();
    if (fibers == nullptr || !fibers->FindFiberState(event.GetContextId(), event.time, mFiberScratch))
        return;
    auto firstZone = std::find_if(mFiberScratch.begin(), mFiberScratch.end(),
                                  [](const SavedFiberBar& bar) { return bar.Frame.IsInstrumentationZone(); });
    if (firstZone == mFiberScratch.end())
        return;
    const int outermost = FindOutermostZone();
    if (outermost >= 0)
        CloseFrom(static_cast<uint32_t>(outermost));
    const uint8_t state = mState < kThreadStateCount ? mState : kExecuting;
    for (auto saved = firstZone; saved != mFiberScratch.end(); ++saved) {
        OpenBar& bar = PushBar();
        bar.Open(saved->Frame, saved->ReturnAddress, saved->LastAbsoluteAddress, at, at, state);
        bar.InstrumentationContext = saved->InstrumentationContextID;
    }
}

void OpenBarProcessor::UpdateBrokenStackState(double time)
{
    if (mBrokenStacks == nullptr)
        return;
    uint64_t closing = IBrokenStackCursor::kNoClosingStack;
    if (!mBrokenStacks->Find(time, closing))
        mBrokenStackState = kRooted;
    else
        mBrokenStackState =
            closing != IBrokenStackCursor::kNoClosingStack ? kUnrootedWithClosingStack : kUnrootedAtTop;
    mClosingStackId = closing;
}

std::span<const ResolvedFrame> OpenBarProcessor::ResolveFrames(uint64_t stackId, double time)
{
    if (stackId == kNoStackId)
        return {};
    std::span<const ResolvedFrame> frames = mStacks->Resolve(mInput, mThread, stackId, time);
    if (mBrokenStackState == kRooted || frames.empty())
        return frames;

    mUnrooted.assign(frames.begin(), frames.end());
    mComposed.clear();
    if (mBrokenStackState == kUnrootedWithClosingStack) {
        std::span<const ResolvedFrame> closing = mStacks->Resolve(mInput, mThread, mClosingStackId, time);
        std::size_t prefix = closing.empty() ? 0 : closing.size() - 1;
        for (std::size_t i = closing.size(); i-- > 0;)
            if (closing[i].Function == mUnrooted.front().Function) {
                prefix = i;
                break;
            }
        mComposed.assign(closing.begin(), closing.begin() + prefix);
    }
    ResolvedFrame unrooted;
    unrooted.Function = ResolvedAddress::UnrootedStacks();
    unrooted.CallerAddress = mComposed.empty() ? OpenBar::kNoAddress : mComposed.back().FrameAddress;
    mComposed.push_back(unrooted);
    mUnrooted.front().CallerAddress = OpenBar::kNoAddress;
    mComposed.insert(mComposed.end(), mUnrooted.begin(), mUnrooted.end());
    return mComposed;
}

void OpenBarProcessor::ApplyStack(std::span<const ResolvedFrame> frames, double time, double limit,
                                  EApplyMode mode, const WaitInfo& wait)
{
    const double at = std::min(time, limit);
    ClampTo(at);
    if (mode == EApplyMode::Sample && !mReportingOff)
        ReportInterval(time);

    // The longest prefix of bars that matches the frames stays open; zone bars are not frames
    // and are stepped over.
    std::size_t bar = 0;
    std::size_t frame = 0;
    int innermost = -1;
    while (bar < mBarCount) {
        OpenBar& open = mBars[bar];
        if (open.IsZone()) {
            ++bar;
            continue;
        }
        if (frame == frames.size() || !SameFrame(open, frames[frame]))
            break;
        open.FrameAddress = frames[frame].FrameAddress;
        innermost = static_cast<int>(bar);
        ++bar;
        ++frame;
    }
    mKeptPrefix = static_cast<uint32_t>(bar);
    if (bar < mBarCount)
        CloseFrom(static_cast<uint32_t>(bar));

    double start = at;
    double end = at;
    uint8_t state = kExecuting;
    if (mode == EApplyMode::Sample) {
        end = std::min(time + mSampleInterval, limit);
        for (std::size_t i = 0; i < mBarCount; ++i)
            ExtendForSample(mBars[i], end);
    } else if (mode == EApplyMode::Wait) {
        start = std::min(wait.start, limit);
        state = wait.state;
        for (std::size_t i = 0; i < mBarCount; ++i)
            ExtendForWait(mBars[i], end, wait, start);
    }
    // Room for the new bars at once: growing one bar at a time moves every bar's sample list
    // several times on the way to a stack's depth.
    const std::size_t needed = mBarCount + (frames.size() - frame);
    if (needed > mBars.capacity())
        mBars.reserve(std::max(needed, mBars.capacity() * 2));
    for (; frame < frames.size(); ++frame) {
        OpenBar& opened = PushBar();
        opened.Open(frames[frame].Function, frames[frame].CallerAddress, frames[frame].FrameAddress, start,
                    end, state);
        innermost = static_cast<int>(mBarCount - 1);
    }

    if (mode == EApplyMode::Sample) {
        if (end - at > 0.0 && innermost >= 0)
            mBars[innermost].AddSample(frames.back().FrameAddress);
        ClearPending();
    } else if (mode == EApplyMode::Wait) {
        ClearPending();
        if (!mReportingOff)
            ReportWaitBoundary(start, end);
    }
}

void OpenBarProcessor::ExtendForSample(OpenBar& bar, double target) const
{
    const double gap = target - bar.EndTime;
    if (!(gap > 0.0))
        return;
    if (mPending) {
        const double pending = SumStateTimes(mPendingTimes);
        if (pending > 0.0 && gap >= pending) {
            bar.AddTimes(mPendingTimes);
            bar.StateTimes[kExecuting] += gap - pending;
        } else {
            bar.StateTimes[kExecuting] += gap;
        }
    } else {
        bar.StateTimes[kExecuting] += gap;
    }
    bar.EndTime = target;
    bar.CurrentState = kExecuting;
}

void OpenBarProcessor::ExtendForWait(OpenBar& bar, double target, const WaitInfo& wait,
                                     double waitStart) const
{
    const double gap = target - bar.EndTime;
    if (!(gap > 0.0))
        return;
    // The part of the gap before the wait began was spent running (or in waits still pending).
    const double waited = target - std::max(bar.EndTime, waitStart);
    const double before = gap - waited;
    if (before > 0.0) {
        const double pending = mPending ? SumStateTimes(mPendingTimes) : 0.0;
        if (pending > 0.0 && before >= pending) {
            bar.AddTimes(mPendingTimes);
            bar.StateTimes[kExecuting] += before - pending;
        } else {
            bar.StateTimes[kExecuting] += before;
        }
    }
    bar.StateTimes[wait.state] += waited;
    bar.EndTime = target;
    bar.CurrentState = wait.state;
}

void OpenBarProcessor::ClearPending()
{
    mPendingTimes.fill(0.0);
    mPending = false;
}

int OpenBarProcessor::GetIntervalIndex(double time) const
{
    const double index = std::trunc(time / static_cast<double>(mReportingInterval));
    if (!(index > static_cast<double>(std::numeric_limits<int>::min())))
        return std::numeric_limits<int>::min();
    if (!(index < static_cast<double>(std::numeric_limits<int>::max())))
        return std::numeric_limits<int>::max();
    return static_cast<int>(index);
}

void OpenBarProcessor::ReportInterval(double time)
{
    const int index = GetIntervalIndex(time);
    if (index == mLastReportedInterval)
        return;
    mLastReportedInterval = index;
    mLastReportedTime = time;
    EmitReport(index, time);
}

void OpenBarProcessor::ReportWaitBoundary(double waitStart, double waitEnd)
{
    const int index = GetIntervalIndex(waitEnd);
    const double boundary = static_cast<double>(index) * static_cast<double>(mReportingInterval);
    if (index == mLastReportedInterval || !(boundary > waitStart) || !(boundary < waitEnd))
        return;
    // Subscribers see the bars charged up to the boundary; the bars then get back their full
    // charge exactly as computed, so reporting never changes a figure.
    mTimesScratch.resize(mBarCount);
    mEndScratch.resize(mBarCount);
    for (std::size_t i = 0; i < mBarCount; ++i) {
        mTimesScratch[i] = mBars[i].StateTimes;
        mEndScratch[i] = mBars[i].EndTime;
        mBars[i].ClampTo(boundary);
    }
    mLastReportedInterval = index;
    mLastReportedTime = boundary;
    EmitReport(index, boundary);
    for (std::size_t i = 0; i < mBarCount; ++i) {
        mBars[i].StateTimes = mTimesScratch[i];
        mBars[i].EndTime = mEndScratch[i];
    }
}

OpenBar& OpenBarProcessor::PushBar()
{
    if (mBarCount == mBars.size())
        mBars.emplace_back();
    return mBars[mBarCount++];
}

void OpenBarProcessor::CloseFrom(uint32_t index)
{
    if (index >= mBarCount)
        return;
    mBarsClosed.Emit(GetBars(), static_cast<int>(index), mLastReportedInterval, mLastReportedTime, false);
    mBarCount = std::min<std::size_t>(mBarCount, index);
}

void OpenBarProcessor::EmitReport(int intervalIndex, double time)
{
    mBarsClosed.Emit(GetBars(), static_cast<int>(mBarCount), intervalIndex, time, true);
}

int OpenBarProcessor::FindInnermostZone() const
{
    for (std::size_t i = mBarCount; i-- > 0;)
        if (mBars[i].IsZone())
            return static_cast<int>(i);
    return -1;
}

int OpenBarProcessor::FindOutermostZone() const
{
    for (std::size_t i = 0; i < mBarCount; ++i)
        if (mBars[i].IsZone())
            return static_cast<int>(i);
    return -1;
}

} // namespace Profiler
