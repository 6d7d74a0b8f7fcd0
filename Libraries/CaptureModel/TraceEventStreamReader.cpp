#include "CaptureModel/TraceEventStreamReader.h"

#include "CaptureModel/TraceEventStream.h"

#include <algorithm>
#include <chrono>

namespace Profiler {

TraceEventStreamReader::TraceEventStreamReader(const TraceEventStream& stream) : mStream(stream)
{
    uint64_t total = 0;
    mEventsBefore.reserve(stream.GetChunks().size() + 1);
    for (const TraceEventStream::Chunk& chunk : stream.GetChunks()) {
        mEventsBefore.push_back(total);
        total += chunk.mNumEvents;
    }
    mEventsBefore.push_back(total);
}

double TraceEventStreamReader::GetProgress() const
{
    const uint64_t total = mEventsBefore.back();
    if (total == 0)
        return 1.0;
    const std::size_t chunk = std::min<std::size_t>(mPosition.chunkIndex, mEventsBefore.size() - 1);
    const double done =
        static_cast<double>(mEventsBefore[chunk] + mPosition.eventIndex) / static_cast<double>(total);
    return std::min(done, 1.0);
}

void TraceEventStreamReader::SetThreads(std::span<const ThreadID> threads)
{
    mAllThreads = false;
    mThreads.assign(threads.begin(), threads.end());
    std::sort(mThreads.begin(), mThreads.end());
    mThreads.erase(std::unique(mThreads.begin(), mThreads.end()), mThreads.end());

    const auto& chunks = mStream.GetChunks();
    mWantedChunks.assign(chunks.size(), 0);
    for (std::size_t c = 0; c < chunks.size(); ++c) {
        const auto& chunkThreads = chunks[c].mThreads;
        // An entry without a thread set cannot be ruled out.
        bool wanted = chunkThreads.empty();
        for (std::size_t t = 0; t < mThreads.size() && !wanted; ++t)
            wanted = chunkThreads.count(mThreads[t]) != 0;
        mWantedChunks[c] = wanted ? 1 : 0;
    }
}

void TraceEventStreamReader::SetAllThreads()
{
    mAllThreads = true;
    mThreads.clear();
    mWantedChunks.clear();
}

bool TraceEventStreamReader::IsWanted(ThreadID thread) const
{
    if (mThreads.size() <= 8)
        return std::find(mThreads.begin(), mThreads.end(), thread) != mThreads.end();
    return std::binary_search(mThreads.begin(), mThreads.end(), thread);
}

bool TraceEventStreamReader::IsChunkWanted(uint32_t chunkIndex) const
{
    return mAllThreads || mWantedChunks[chunkIndex] != 0;
}

bool TraceEventStreamReader::Load(uint32_t chunkIndex)
{
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = mChunk.LoadChunk(mStream, chunkIndex, mErrors);
    mIoSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return loaded;
}

bool TraceEventStreamReader::Seek(double time)
{
    if (HasFailed())
        return false;
    const auto& chunks = mStream.GetChunks();
    auto first =
        std::partition_point(chunks.begin(), chunks.end(),
                             [time](const TraceEventStream::Chunk& chunk) { return chunk.mEndTime < time; });
    auto chunkIndex = static_cast<uint32_t>(first - chunks.begin());
    while (chunkIndex < chunks.size() && !IsChunkWanted(chunkIndex))
        ++chunkIndex;
    if (chunkIndex == chunks.size()) {
        mPosition = {chunkIndex, 0};
        return true;
    }
    if (mChunk.GetChunkIndex() != chunkIndex && !Load(chunkIndex))
        return false;
    mPosition = {chunkIndex, mChunk.GetView().LowerBound(time)};
    return true;
}

bool TraceEventStreamReader::EnterChunk(double endTime)
{
    const auto& chunks = mStream.GetChunks();
    for (;;) {
        const uint32_t chunkIndex = mPosition.chunkIndex;
        if (chunkIndex >= chunks.size())
            return false;
        if (mChunk.GetChunkIndex() != chunkIndex) {
            if (!IsChunkWanted(chunkIndex)) {
                mPosition = {chunkIndex + 1, 0};
                continue;
            }
            // A chunk that starts at or after the end time need not be read at all.
            if (mPosition.eventIndex == 0 && chunks[chunkIndex].mStartTime >= endTime)
                return false;
            if (!Load(chunkIndex))
                return false;
        }
        if (mPosition.eventIndex < mChunk.GetView().GetEventCount())
            return true;
        mPosition = {chunkIndex + 1, 0};
    }
}

bool TraceEventStreamReader::Next(TraceEvent& event, double endTime)
{
    if (HasFailed())
        return false;
    while (EnterChunk(endTime)) {
        const EventChunkView& view = mChunk.GetView();
        const uint64_t count = view.GetEventCount();
        for (uint64_t i = mPosition.eventIndex; i < count; ++i) {
            if (view.GetTime(i) >= endTime) {
                mPosition.eventIndex = i;
                return false;
            }
            if (!mAllThreads && !IsWanted(view.GetThreadId(i)))
                continue;
            const uint8_t kind = view.GetKindValue(i);
            // Kinds beyond the known ones are not events; they are passed over, not taken as the end.
            if (kind >= kTraceEventKindCount ||
                (!mZonesEnabled && IsZoneEvent(static_cast<ETraceEventKind>(kind))))
                continue;
            if (!view.DecodeEvent(i, event)) {
                mPosition.eventIndex = i;
                mErrors.AddFormatted(
                    Serialization::EErrorCode::Corrupt,
                    "Event %llu of chunk %u of %s is damaged: its payload lies outside the chunk",
                    static_cast<unsigned long long>(i), mPosition.chunkIndex,
                    mStream.GetDataPath().string().c_str());
                return false;
            }
            mPosition.eventIndex = i + 1;
            return true;
        }
        mPosition = {mPosition.chunkIndex + 1, 0};
    }
    return false;
}

} // namespace Profiler
