#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/BrokenStackWriter.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "System/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace Profiler {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The kinds whose stack decides whether a thread's stacks are rooted.
bool CarriesRootingStack(const TraceEvent& event)
{
    switch (event.kind) {
    case ETraceEventKind::Sample:
    case ETraceEventKind::ContextSwitchIn:
    case ETraceEventKind::ZoneBegin:
    case ETraceEventKind::ZoneBeginWithColour:
        return event.HasStack();
    default:
        return false;
    }
}

/// Tells the handler about each thread as soon as its last event has been handed out, so that
/// it can let go of the thread long before the end of a capture of many threads. The stream's
/// index names the last chunk that holds a thread's events; that chunk, once loaded, names the
/// last event.
class ThreadFinisher {
public:
    ThreadFinisher(const std::vector<TraceEventStream::Chunk>& chunks, IReprocessHandler& handler)
        : mHandler(handler), mFirst(chunks.size() + 1, 0)
    {
        std::unordered_map<ThreadID, uint32_t> lastChunk;
        for (uint32_t i = 0; i < chunks.size(); ++i)
            for (const ThreadID thread : chunks[i].mThreads)
                lastChunk[thread] = i;
        // Counting sort by last chunk: the threads of chunk i are [mFirst[i], mFirst[i + 1]).
        for (const auto& [thread, chunk] : lastChunk)
            ++mFirst[chunk + 1];
        for (std::size_t i = 1; i < mFirst.size(); ++i)
            mFirst[i] += mFirst[i - 1];
        mThreads.resize(lastChunk.size());
        std::vector<std::size_t> next(mFirst.begin(), mFirst.end() - 1);
        for (const auto& [thread, chunk] : lastChunk)
            mThreads[next[chunk]++] = thread;
    }

    /// After the event at `eventIndex` of chunk `chunkIndex` (loaded in `view`) was handed out.
    bool Passed(uint32_t chunkIndex, uint64_t eventIndex, const EventChunkView& view,
                Serialization::ErrorList& errors)
    {
        if (chunkIndex != mChunk && !EnterChunk(chunkIndex, view, errors))
            return false;
        for (; mNextLast < mLastEvents.size() && mLastEvents[mNextLast].first <= eventIndex; ++mNextLast)
            if (!mHandler.FinishThread(mLastEvents[mNextLast].second, errors))
                return false;
        return true;
    }

private:
    bool FinishChunk(uint32_t chunkIndex, Serialization::ErrorList& errors)
    {
        for (std::size_t i = mFirst[chunkIndex]; i < mFirst[chunkIndex + 1]; ++i)
            if (!mHandler.FinishThread(mThreads[i], errors))
                return false;
        return true;
    }

    bool EnterChunk(uint32_t chunkIndex, const EventChunkView& view, Serialization::ErrorList& errors)
    {
        // The rest of the chunk before, and chunks whose events were all passed over.
        for (; mNextLast < mLastEvents.size(); ++mNextLast)
            if (!mHandler.FinishThread(mLastEvents[mNextLast].second, errors))
                return false;
        for (uint32_t chunk = mChunk == kNoChunk ? 0 : mChunk + 1; chunk < chunkIndex; ++chunk)
            if (!FinishChunk(chunk, errors))
                return false;
        mChunk = chunkIndex;
        std::unordered_map<ThreadID, uint64_t> lastEvent;
        const uint64_t count = view.GetEventCount();
        // A thread the chunk does not hold after all is finished at the chunk's end.
        for (std::size_t i = mFirst[chunkIndex]; i < mFirst[chunkIndex + 1]; ++i)
            lastEvent.emplace(mThreads[i], count);
        for (uint64_t i = 0; i < count; ++i)
            if (auto found = lastEvent.find(view.GetThreadId(i)); found != lastEvent.end())
                found->second = i;
        mLastEvents.clear();
        for (const auto& [thread, index] : lastEvent)
            mLastEvents.emplace_back(index, thread);
        std::sort(mLastEvents.begin(), mLastEvents.end());
        mNextLast = 0;
        return true;
    }

    static constexpr uint32_t kNoChunk = ~0u;
    IReprocessHandler& mHandler;
    std::vector<ThreadID> mThreads;
    std::vector<std::size_t> mFirst;
    uint32_t mChunk = kNoChunk;
    std::vector<std::pair<uint64_t, ThreadID>> mLastEvents; ///< (event index, thread) in the chunk
    std::size_t mNextLast = 0;
};

void CopyErrors(const Serialization::ErrorList& from, Serialization::ErrorList& to)
{
    for (const auto& record : from.GetErrors()) {
        to.PushContext(record.context);
        to.Add(record.code, record.message);
        to.PopContext();
    }
}

} // namespace

bool Session::RebuildBrokenStacks(Serialization::ErrorList& errors)
{
    if (!mEventStream) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "The session has no event stream");
        return false;
    }
    const std::filesystem::path directory = GetDirectory();
    // The ranges are derived from the events alone, so the old files are simply replaced.
    mBrokenStacks.reset();
    std::error_code ignored;
    std::filesystem::remove(directory / BrokenStackIndex::kDataFileName, ignored);
    std::filesystem::remove(directory / BrokenStackIndex::kIndexFileName, ignored);

    BrokenStackWriter writer;
    if (!writer.Open(directory, errors))
        return false;
    TraceEventStreamReader reader(*mEventStream);
    reader.SetZonesEnabled(true);
    if (!reader.Seek(std::numeric_limits<double>::lowest())) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    TraceEvent event;
    while (reader.Next(event)) {
        if (!CarriesRootingStack(event))
            continue;
        const auto process = static_cast<int32_t>(event.processId);
        const std::optional<bool> rooted = FindRootedness(process, event.stackId, event.time);
        if (!rooted)
            continue;
        if (*rooted)
            writer.EndRange(event.threadId, event.time, event.stackId);
        else
            writer.BeginRange(event.threadId, event.time);
    }
    if (reader.HasFailed()) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    if (!writer.Finish(errors))
        return false;
    auto brokenStacks = std::make_unique<BrokenStackReader>();
    if (!brokenStacks->Open(directory, writer.GetIndex(), errors))
        return false;
    mBrokenStacks = std::move(brokenStacks);
    return true;
}

bool Session::Reprocess(IReprocessHandler& handler, const std::function<void(double)>& progress,
                        Serialization::ErrorList& errors)
{
    const Clock::time_point start = Clock::now();
    Serialization::ErrorList::ContextScope context(errors, mPath.string());
    if (!mEventStream) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "The session has no event stream");
        return false;
    }
    // Open bar processing asks for the broken stack ranges while it runs, so they must exist
    // before the events are handed out; a capture written without them gets them first.
    if (!mBrokenStacks && !RebuildBrokenStacks(errors))
        return false;

    for (Model* model : mModels)
        if (!model->DeleteStoredData(errors) || !model->BeginProcessing(errors))
            return false;
    if (!handler.BeginReprocessing(mModels, errors))
        return false;

    TraceEventStreamReader reader(*mEventStream);
    reader.SetZonesEnabled(true);
    // Every event, from the capture's first one.
    if (!reader.Seek(std::numeric_limits<double>::lowest())) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    ThreadFinisher finisher(mEventStream->GetChunks(), handler);
    int lastPercent = -1;
    TraceEvent event;
    while (reader.Next(event)) {
        if (!handler.HandleEvent(event, errors))
            return false;
        const TraceEventStreamReader::Position position = reader.GetPosition();
        if (!finisher.Passed(position.chunkIndex, position.eventIndex - 1, reader.GetChunkView(), errors))
            return false;
        const double fraction = reader.GetProgress();
        const int percent = static_cast<int>(std::floor(fraction * 100.0));
        if (percent > lastPercent) {
            lastPercent = percent;
            if (progress)
                progress(fraction);
        }
    }
    if (reader.HasFailed()) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    if (progress && lastPercent < 100)
        progress(1.0);

    const Clock::time_point finishing = Clock::now();
    if (!handler.EndReprocessing(errors))
        return false;
    for (Model* model : mModels)
        model->EndProcessing();
    const double finishingSeconds = SecondsSince(finishing);
    const double totalSeconds = SecondsSince(start);
    const double ioSeconds = reader.GetIoSeconds();
    System::Log(
        "Reprocessing finished after %f seconds (processing time: %f, IO time: %f, finishing time: %f)",
        totalSeconds, totalSeconds - ioSeconds - finishingSeconds, ioSeconds, finishingSeconds);
    return true;
}

} // namespace Profiler
