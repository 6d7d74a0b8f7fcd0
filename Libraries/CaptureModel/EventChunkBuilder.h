#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/TraceEvent.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace Profiler {

/// Collects events column by column for one chunk and lays them out in the decompressed
/// chunk format that EventChunkView reads: the six offsets, then the payload area, kinds,
/// times, process IDs, thread IDs and payload offsets, back to back. It also keeps what the
/// chunk's index entry needs: the time range and the process and thread sets.
class EventChunkBuilder {
public:
    /// The payload area must stay addressable by the u32 payload offsets.
    static constexpr uint64_t kMaxPayloadBytes = 0xFFFFFFFFull - 48;

    void Add(const TraceEvent& event);

    void AddSample(double time, ProcessID processId, ThreadID threadId, uint64_t stackId)
    {
        AddColumns(ETraceEventKind::Sample, time, processId, threadId);
        AppendPayload(stackId);
    }
    void AddContextSwitchOut(double time, ProcessID processId, ThreadID threadId, uint8_t waitReason)
    {
        AddColumns(ETraceEventKind::ContextSwitchOut, time, processId, threadId);
        AppendPayload(waitReason);
    }
    void AddContextSwitchIn(double time, ProcessID processId, ThreadID threadId, uint64_t stackId)
    {
        AddColumns(ETraceEventKind::ContextSwitchIn, time, processId, threadId);
        AppendPayload(stackId);
    }

    uint64_t GetEventCount() const { return mKinds.size(); }
    bool IsEmpty() const { return mKinds.empty(); }
    std::size_t GetPayloadBytes() const { return mPayload.size(); }
    /// The size of the laid-out chunk.
    std::size_t GetLayoutSize() const;

    double GetStartTime() const { return mTimes.empty() ? 0.0 : mTimes.front(); }
    double GetEndTime() const { return mTimes.empty() ? 0.0 : mTimes.back(); }
    /// The distinct process IDs of the events added, in the thread ID type as the chunk index
    /// stores them.
    std::set<ThreadID> GetProcessIds() const;
    /// The distinct thread IDs of the events added.
    std::set<ThreadID> GetThreadIds() const;

    /// Replaces `out` with the laid-out chunk (its capacity is reused).
    void LayOut(std::vector<uint8_t>& out) const;
    /// Forgets the events but keeps the column capacity for the next chunk.
    void Clear();

private:
    void AddColumns(ETraceEventKind kind, double time, ProcessID processId, ThreadID threadId);

    template <class T> void AppendPayload(T value)
    {
        const std::size_t at = mPayload.size();
        mPayload.resize(at + sizeof(T));
        std::memcpy(mPayload.data() + at, &value, sizeof(T));
    }

    std::vector<uint8_t> mKinds;
    std::vector<double> mTimes;
    std::vector<uint32_t> mProcessColumn;
    std::vector<uint32_t> mThreadColumn;
    std::vector<uint32_t> mPayloadOffsets; ///< relative to the chunk start
    std::vector<uint8_t> mPayload;

    std::unordered_set<uint32_t> mProcessIds;
    std::unordered_set<uint32_t> mThreadIds;
    // Consecutive events mostly share their thread; these spare the set lookups.
    uint32_t mLastProcessId = 0;
    uint32_t mLastThreadId = 0;
};

} // namespace Profiler
