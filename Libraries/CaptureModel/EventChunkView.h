#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/TraceEvent.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace Profiler {

/// A checked view over one decompressed column-wise chunk (event data version 2). The chunk
/// starts with six u64 offsets (payload area, kinds, times, process IDs, thread IDs, payload
/// offsets), each relative to the chunk start; the columns hold one entry per event. Attach
/// validates every column against the buffer size once, so the per-event accessors only need
/// the index to be below the event count. The view does not own the bytes.
class EventChunkView {
public:
    static constexpr std::size_t kHeaderSize = 6 * sizeof(uint64_t);
    /// Column bytes per event: kind, time, process ID, thread ID, payload offset.
    static constexpr std::size_t kColumnBytesPerEvent = 1 + 8 + 4 + 4 + 4;

    /// Validates the layout of `size` bytes holding `eventCount` events. On failure the view is
    /// empty and `error` says what is wrong.
    bool Attach(const uint8_t* data, std::size_t size, uint64_t eventCount, std::string& error);
    void Reset();

    uint64_t GetEventCount() const { return mEventCount; }
    const uint8_t* GetData() const { return mData; }
    std::size_t GetSize() const { return mSize; }

    uint8_t GetKindValue(uint64_t index) const { return mKinds[index]; }
    double GetTime(uint64_t index) const { return Load<double>(mTimes, index); }
    ProcessID GetProcessId(uint64_t index) const { return ProcessID{Load<uint32_t>(mProcessIds, index)}; }
    ThreadID GetThreadId(uint64_t index) const { return ThreadID{Load<uint32_t>(mThreadIds, index)}; }
    uint32_t GetPayloadOffset(uint64_t index) const { return Load<uint32_t>(mPayloadOffsets, index); }

    /// Decodes event `index` (below the event count) into `event`. An unknown kind yields the
    /// end marker and true; false means the payload lies outside the chunk.
    bool DecodeEvent(uint64_t index, TraceEvent& event) const;

    /// The index of the first event whose time is at or after `time` (the event count when
    /// there is none). Times are non-decreasing within a chunk.
    uint64_t LowerBound(double time) const;

private:
    template <class T> static T Load(const uint8_t* column, uint64_t index)
    {
        T value;
        std::memcpy(&value, column + index * sizeof(T), sizeof(T));
        return value;
    }

    const uint8_t* mData = nullptr;
    std::size_t mSize = 0;
    uint64_t mEventCount = 0;
    const uint8_t* mKinds = nullptr;
    const uint8_t* mTimes = nullptr;
    const uint8_t* mProcessIds = nullptr;
    const uint8_t* mThreadIds = nullptr;
    const uint8_t* mPayloadOffsets = nullptr;
};

} // namespace Profiler
