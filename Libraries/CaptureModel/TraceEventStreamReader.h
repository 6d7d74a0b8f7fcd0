#pragma once

#include "CaptureModel/EventChunkReader.h"
#include "CaptureModel/Identifiers.h"
#include "CaptureModel/TraceEvent.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace Profiler {

class TraceEventStream;

/// Reads a trace event stream in time order from a position, for a set of threads (or all),
/// with or without the instrumentation zone events (kinds 7, 8 and 9). Chunks that end before
/// the wanted time or hold none of the wanted threads are never read. The stream must outlive
/// the reader; each reader has its own buffers, so readers on different threads do not meet.
class TraceEventStreamReader {
public:
    /// Where reading continues: an event of a chunk. Positions can be copied between readers of
    /// the same stream (with the same thread set).
    struct Position {
        uint32_t chunkIndex = 0;
        uint64_t eventIndex = 0;
        friend bool operator==(const Position&, const Position&) = default;
    };

    explicit TraceEventStreamReader(const TraceEventStream& stream);

    /// Reads only events of these threads from now on.
    void SetThreads(std::span<const ThreadID> threads);
    /// Reads the events of every thread (the default).
    void SetAllThreads();
    /// Whether zone events are handed out; off by default.
    void SetZonesEnabled(bool enabled) { mZonesEnabled = enabled; }
    bool AreZonesEnabled() const { return mZonesEnabled; }

    /// Positions the reader at the first event at or after `time` (binary search over the chunk
    /// ranges, then over the chunk's times). False when a chunk could not be read.
    bool Seek(double time);
    Position GetPosition() const { return mPosition; }
    /// The chunk of the event that Next handed out last (until the next Next or Seek).
    const EventChunkView& GetChunkView() const { return mChunk.GetView(); }
    void SetPosition(const Position& position) { mPosition = position; }

    /// The next event of the wanted threads whose time is below `endTime`, or false when the
    /// next event is at or after `endTime`, the stream ends, or a chunk is damaged (HasFailed).
    /// The reader stays at the first event that it did not hand out.
    bool Next(TraceEvent& event, double endTime = std::numeric_limits<double>::infinity());

    bool HasFailed() const { return !mErrors.IsEmpty(); }
    const Serialization::ErrorList& GetErrors() const { return mErrors; }
    /// The fraction of the stream's events before the position (0 to 1), for progress reports.
    double GetProgress() const;
    /// Seconds spent reading and decompressing chunks so far.
    double GetIoSeconds() const { return mIoSeconds; }

private:
    bool IsWanted(ThreadID thread) const;
    bool IsChunkWanted(uint32_t chunkIndex) const;
    /// Makes the chunk at the position current, skipping chunks without wanted threads. False at
    /// the end, when the next wanted chunk starts at or after `endTime`, or on failure.
    bool EnterChunk(double endTime);
    bool Load(uint32_t chunkIndex);

    const TraceEventStream& mStream; // not owned
    EventChunkReader mChunk;
    Position mPosition;
    bool mZonesEnabled = false;
    bool mAllThreads = true;
    std::vector<ThreadID> mThreads;      ///< sorted
    std::vector<uint8_t> mWantedChunks;  ///< per chunk: holds a wanted thread
    std::vector<uint64_t> mEventsBefore; ///< per chunk: events in the chunks before it
    Serialization::ErrorList mErrors;
    double mIoSeconds = 0.0;
};

} // namespace Profiler
