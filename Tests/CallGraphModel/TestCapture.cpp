#include "TestCapture.h"

#include "Utility/Fnv1a.h"

#include <algorithm>
#include <sstream>

using namespace Profiler;

namespace CallGraphTest {

namespace {

class RangeCursor final : public IBrokenStackCursor {
public:
    explicit RangeCursor(const std::vector<BrokenRange>* ranges) : mRanges(ranges) {}

    bool Find(double time, uint64_t& closingStackId) override
    {
        if (mRanges == nullptr)
            return false;
        auto after = std::upper_bound(mRanges->begin(), mRanges->end(), time,
                                      [](double t, const BrokenRange& range) { return t < range.start; });
        mIndex = static_cast<uint32_t>(after - mRanges->begin());
        if (after == mRanges->begin() || !(time < std::prev(after)->end))
            return false;
        closingStackId = std::prev(after)->closingStackId;
        return true;
    }
    BrokenStackPosition GetPosition() const override { return {{mIndex, 0, 0, 0}, 0}; }
    void SetPosition(const BrokenStackPosition& position) override { mIndex = position.Words[0]; }

private:
    const std::vector<BrokenRange>* mRanges; // not owned
    uint32_t mIndex = 0;
};

TraceEvent MakeEvent(double time, ThreadID thread, ETraceEventKind kind)
{
    TraceEvent event;
    event.time = time;
    event.threadId = thread;
    event.processId = ProcessID{100};
    event.kind = kind;
    return event;
}

} // namespace

TestCapture::TestCapture(double sampleInterval, bool realCallers)
    : mSampleInterval(sampleInterval), mRealCallers(realCallers)
{}

uint64_t TestCapture::Stack(const std::string& text)
{
    if (text.empty())
        return kNoStackId;
    auto found = mStackIds.find(text);
    if (found != mStackIds.end())
        return found->second;
    std::vector<ResolvedFrame> frames;
    std::istringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ';')) {
        const std::size_t plus = part.find('+');
        ResolvedFrame frame;
        frame.Function = mNames.Get(part.substr(0, plus));
        frame.FrameAddress =
            frame.Function.RelativeAddress +
            (plus == std::string::npos ? 0x10 : std::stoull(part.substr(plus + 1), nullptr, 0));
        if (mRealCallers && !frames.empty())
            frame.CallerAddress = frames.back().FrameAddress;
        frames.push_back(frame);
    }
    const uint64_t id = AddStack(std::move(frames));
    mStackIds.emplace(text, id);
    return id;
}

uint64_t TestCapture::AddStack(std::vector<ResolvedFrame> frames)
{
    mStacks.push_back(std::move(frames));
    return mStacks.size();
}

uint64_t TestCapture::InternStack(const std::vector<ResolvedFrame>& frames)
{
    std::string key;
    for (const ResolvedFrame& frame : frames) {
        const uint64_t fields[4] = {frame.Function.RelativeAddress, frame.Function.ResolveIndex,
                                    frame.FrameAddress, frame.CallerAddress};
        key.append(reinterpret_cast<const char*>(fields), sizeof(fields));
    }
    auto [found, added] = mInterned.emplace(std::move(key), 0);
    if (added)
        found->second = AddStack(frames);
    return found->second;
}

void TestCapture::Sample(double time, ThreadID thread, const StackRef& stack)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::Sample);
    event.stackId = Resolve(stack);
    mEvents.push_back(event);
}

void TestCapture::SwitchOut(double time, ThreadID thread, uint8_t waitReason)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::ContextSwitchOut);
    event.data8 = waitReason;
    mEvents.push_back(event);
}

void TestCapture::SwitchIn(double time, ThreadID thread, const StackRef& stack)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::ContextSwitchIn);
    event.stackId = Resolve(stack);
    mEvents.push_back(event);
}

void TestCapture::ZoneBegin(double time, ThreadID thread, const StackRef& stack, const std::string& zone)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::ZoneBegin);
    event.stackId = Resolve(stack);
    event.text[0] = Intern(zone);
    mZones.emplace(zone, Zone(zone));
    mEvents.push_back(event);
}

void TestCapture::ZoneEnd(double time, ThreadID thread)
{
    mEvents.push_back(MakeEvent(time, thread, ETraceEventKind::ZoneEnd));
}

void TestCapture::StackWithoutTime(double time, ThreadID thread, const StackRef& stack, bool kind17)
{
    TraceEvent event =
        MakeEvent(time, thread, kind17 ? ETraceEventKind::StackOnly : ETraceEventKind::StackWithoutTime);
    event.stackId = Resolve(stack);
    mEvents.push_back(event);
}

void TestCapture::Status(double time, ThreadID thread, uint8_t status, bool kind12)
{
    TraceEvent event = MakeEvent(
        time, thread, kind12 ? ETraceEventKind::ThreadStatusWithValue : ETraceEventKind::ThreadStatus);
    event.data8 = status;
    mEvents.push_back(event);
}

void TestCapture::ContextOut(double time, ThreadID thread, uint64_t contextId)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::InstrumentationContextOut);
    event.data64[0] = contextId;
    mEvents.push_back(event);
}

void TestCapture::ContextIn(double time, ThreadID thread, uint64_t contextId)
{
    TraceEvent event = MakeEvent(time, thread, ETraceEventKind::InstrumentationContextIn);
    event.data64[0] = contextId;
    mEvents.push_back(event);
}

void TestCapture::Other(double time, ThreadID thread, ETraceEventKind kind)
{
    mEvents.push_back(MakeEvent(time, thread, kind));
}

void TestCapture::SortEvents()
{
    std::stable_sort(mEvents.begin(), mEvents.end(),
                     [](const TraceEvent& a, const TraceEvent& b) { return a.time < b.time; });
}

void TestCapture::AddBrokenRange(ThreadID thread, const BrokenRange& range)
{
    auto& ranges = mBrokenRanges[static_cast<uint32_t>(thread)];
    ranges.push_back(range);
    std::sort(ranges.begin(), ranges.end(),
              [](const BrokenRange& a, const BrokenRange& b) { return a.start < b.start; });
}

double TestCapture::GetThreadStartTime(ThreadID thread) const
{
    auto found = mThreadStarts.find(static_cast<uint32_t>(thread));
    return found != mThreadStarts.end() ? found->second : 0.0;
}

bool TestCapture::ResolveStack(ThreadID, uint64_t stackId, double, std::vector<ResolvedFrame>& frames) const
{
    if (stackId == 0 || stackId > mStacks.size())
        return false;
    frames = mStacks[stackId - 1];
    return true;
}

ResolvedAddress TestCapture::ResolveZone(const TraceEvent& event) const
{
    auto found = mZones.find(std::string(event.text[0]));
    if (found != mZones.end())
        return found->second;
    const uint64_t hash =
        Utility::Fnv1a(reinterpret_cast<const uint8_t*>(event.text[0].data()), event.text[0].size());
    return ResolvedAddress::Make(hash, ResolvedAddress::kKindNoCode, 0, true);
}

std::unique_ptr<IBrokenStackCursor> TestCapture::CreateBrokenStackCursor(ThreadID thread, double time) const
{
    auto found = mBrokenRanges.find(static_cast<uint32_t>(thread));
    auto cursor = std::make_unique<RangeCursor>(found != mBrokenRanges.end() ? &found->second : nullptr);
    uint64_t closing = 0;
    cursor->Find(time, closing);
    return cursor;
}

std::unique_ptr<ITraceEventSource> TestCapture::CreateEventSource() const
{
    return std::make_unique<VectorEventSource>(mEvents);
}

std::string_view TestCapture::Intern(const std::string& text)
{
    return mStrings.emplace_back(text);
}

void VectorEventSource::SetThreads(std::span<const ThreadID> threads)
{
    mAllThreads = false;
    mThreads.assign(threads.begin(), threads.end());
}

bool VectorEventSource::Seek(double time)
{
    mPosition = static_cast<std::size_t>(
        std::lower_bound(mEvents->begin(), mEvents->end(), time,
                         [](const TraceEvent& event, double t) { return event.time < t; }) -
        mEvents->begin());
    return true;
}

bool VectorEventSource::Next(TraceEvent& event, double endTime)
{
    while (mPosition < mEvents->size()) {
        const TraceEvent& next = (*mEvents)[mPosition];
        if (!(next.time < endTime))
            return false;
        ++mPosition;
        if (!mZones && IsZoneEvent(next.kind))
            continue;
        if (!mAllThreads && std::find(mThreads.begin(), mThreads.end(), next.threadId) == mThreads.end())
            continue;
        event = next;
        return true;
    }
    return false;
}

} // namespace CallGraphTest
