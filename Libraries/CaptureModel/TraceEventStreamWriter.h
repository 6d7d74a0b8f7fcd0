#pragma once

#include "CaptureModel/EventChunkBuilder.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkFile.h"
#include "CaptureModel/Identifiers.h"
#include "CaptureModel/TraceEvent.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

class TraceEventStream;

/// Writes a trace event stream. Events are appended in time order to the current chunk; the
/// producer decides when to cut a chunk (FlushChunk, typically every 100,000 events or a few
/// megabytes, see GetPendingEventCount and GetPendingBytes). FlushChunk compresses the chunk,
/// appends it to "events.dat" and adds its index entry; Close flushes what is left and writes
/// "events.index".
class TraceEventStreamWriter {
public:
    TraceEventStreamWriter();
    ~TraceEventStreamWriter();
    TraceEventStreamWriter(const TraceEventStreamWriter&) = delete;
    TraceEventStreamWriter& operator=(const TraceEventStreamWriter&) = delete;

    /// Creates "events.dat" in `directory`, replacing an existing one; Close writes
    /// "events.index" there. Fails with "Failed to open %s for writing".
    bool Open(const std::filesystem::path& directory, Serialization::ErrorList& errors);
    /// As above with explicit paths for the data and the index file.
    bool Open(const std::filesystem::path& dataPath, const std::filesystem::path& indexPath,
              Serialization::ErrorList& errors);

    void AddSample(double time, ProcessID process, ThreadID thread, uint64_t stackId)
    {
        mChunk.AddSample(time, process, thread, stackId);
    }
    void AddContextSwitchOut(double time, ProcessID process, ThreadID thread, uint8_t waitReason)
    {
        mChunk.AddContextSwitchOut(time, process, thread, waitReason);
    }
    void AddContextSwitchIn(double time, ProcessID process, ThreadID thread, uint64_t stackId)
    {
        mChunk.AddContextSwitchIn(time, process, thread, stackId);
    }
    void AddStackWithoutTime(double time, ProcessID process, ThreadID thread, uint64_t stackId,
                             uint32_t value0, uint32_t value1);
    void AddThreadStatus(double time, ProcessID process, ThreadID thread, uint8_t status);
    void AddZoneBegin(double time, ProcessID process, ThreadID thread, uint64_t stackId,
                      std::string_view name, std::string_view detail);
    void AddZoneBeginWithColour(double time, ProcessID process, ThreadID thread, uint64_t stackId,
                                std::string_view name, std::string_view detail, uint32_t colour);
    void AddZoneEnd(double time, ProcessID process, ThreadID thread);
    void AddInstrumentationContextOut(double time, ProcessID process, ThreadID thread, uint64_t contextId,
                                      uint64_t value);
    void AddInstrumentationContextIn(double time, ProcessID process, ThreadID thread, uint64_t contextId);
    /// Any event by its kind. The end marker and events whose payload alone would overflow a
    /// chunk are refused (false).
    bool Add(const TraceEvent& event);

    uint64_t GetPendingEventCount() const { return mChunk.GetEventCount(); }
    /// The uncompressed size of the current chunk.
    std::size_t GetPendingBytes() const { return mChunk.GetLayoutSize(); }

    /// Writes the current chunk, if it has events. A write error gives "Unable to open event
    /// stream %s. Error: %s"; the chunk is then dropped.
    bool FlushChunk(Serialization::ErrorList& errors);
    /// Flushes, closes "events.dat" and writes the index.
    bool Close(Serialization::ErrorList& errors);

    /// The index of what was flushed so far.
    const TraceEventStream& GetStream() const { return *mStream; }
    /// Hands over the index (after Close); the writer is then spent.
    std::unique_ptr<TraceEventStream> TakeStream();

private:
    std::unique_ptr<TraceEventStream> mStream;
    EventChunkBuilder mChunk;
    EventChunkCompressor mCompressor;
    std::vector<uint8_t> mLayout;
    EventChunkFile mFile;
    std::filesystem::path mDataPath;
    std::filesystem::path mIndexPath;
};

} // namespace Profiler
