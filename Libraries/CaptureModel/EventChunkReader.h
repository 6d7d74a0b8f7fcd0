#pragma once

#include "CaptureModel/EventChunkBuilder.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkView.h"
#include "CaptureModel/TraceEvent.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

class TraceEventStream;

/// Loads chunks of a trace event stream one at a time into buffers and a decompression context
/// that it keeps across chunks, and walks the loaded chunk's events. Chunks of the old row-wise
/// encoding are converted to the column layout on load, so readers see one format.
class EventChunkReader {
public:
    static constexpr uint32_t kNoChunk = ~0u;

    /// Reads, checks and decompresses chunk `chunkIndex` of `stream` and sets the cursor to its
    /// first event. On failure (read error, damaged chunk) nothing is loaded and `errors` says why.
    bool LoadChunk(const TraceEventStream& stream, uint32_t chunkIndex, Serialization::ErrorList& errors);
    void Unload();

    uint32_t GetChunkIndex() const { return mChunkIndex; }
    const EventChunkView& GetView() const { return mView; }
    uint64_t GetCursor() const { return mCursor; }
    void SetCursor(uint64_t index) { mCursor = index; }

    /// Decodes the event at the cursor and advances it. Past the last event, and for events of
    /// unknown kinds, the result is the end marker. False when the event's payload is damaged.
    bool Next(TraceEvent& event);

private:
    bool LoadColumnChunk(uint64_t storedSize, uint64_t numEvents, std::string& error);
    bool LoadRowChunk(uint64_t storedSize, std::string& error);

    uint32_t mChunkIndex = kNoChunk;
    uint64_t mCursor = 0;
    EventChunkView mView;
    std::vector<uint8_t> mStored; ///< the chunk as stored in the file
    EventChunkDecompressor mDecompressor;
    // Only for row-wise chunks: their events re-laid out in columns.
    EventChunkBuilder mRowConverter;
    std::vector<uint8_t> mConverted;
};

} // namespace Profiler
