#pragma once

#include "CaptureModel/EventChunkFile.h"
#include "CaptureModel/Identifiers.h"
#include "RTTI/Reflection.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// All time-ordered events of a capture: "events.dat", a sequence of compressed chunks that each
/// cover a time range and a set of processes and threads, and its index "events.index", the
/// chunk list that this object holds. Reading goes through TraceEventStreamReader, writing
/// through TraceEventStreamWriter. Once opened, the chunk list does not change (except by
/// Upgrade, which must not run while readers exist), so any number of readers may share it.
class TraceEventStream : public RTTI::Object {
    QX_RTTI_CLASS(TraceEventStream);

    /// One chunk's index entry.
    struct Chunk {
        QX_RTTI_STRUCT(Chunk);
        double mStartTime = 0.0;  ///< time of the first event (ms)
        double mEndTime = 0.0;    ///< time of the last event (ms)
        uint64_t mFileOffset = 0; ///< where the chunk starts in "events.dat"
        uint64_t mSize = 0;       ///< stored (compressed) size in bytes
        uint64_t mNumEvents = 0;
        /// Process IDs with events in the chunk (stored in the thread ID type).
        std::set<ThreadID> mProcesses;
        std::set<ThreadID> mThreads; ///< thread IDs with events in the chunk
    };

    /// The event encoding that writers produce: column-wise compressed chunks. Version 1 had
    /// uncompressed row-wise chunks.
    static constexpr uint32_t kCurrentEventDataVersion = 2;
    static constexpr const char* kDataFileName = "events.dat";
    static constexpr const char* kIndexFileName = "events.index";
    /// Events per chunk when an old stream is rewritten.
    static constexpr uint64_t kUpgradeChunkEvents = 100000;

    TraceEventStream();
    ~TraceEventStream() override;
    TraceEventStream(const TraceEventStream&) = delete;
    TraceEventStream& operator=(const TraceEventStream&) = delete;

    /// Loads "events.index" from `directory` (the registry must hold this class) and opens
    /// "events.dat" for reading. Fails with "Unable to open events data file %s, the file does
    /// not exist" or "The file does not appear to be a TraceEventStream file (missing
    /// TraceEventStream object)", besides the index reader's own errors.
    static std::unique_ptr<TraceEventStream> Open(const std::filesystem::path& directory,
                                                  const RTTI::Registry& registry,
                                                  Serialization::ErrorList& errors);

    uint64_t GetNumEvents() const { return mNumEvents; }
    const std::vector<Chunk>& GetChunks() const { return mChunks; }
    uint32_t GetEventDataVersion() const { return mEventDataVersion; }

    /// Replaces the index contents (used by the writer and the index loader).
    void SetIndex(uint64_t numEvents, std::vector<Chunk> chunks, uint32_t eventDataVersion);
    void AddChunk(Chunk chunk);

    /// Writes the index (this object) to `path` as a binary object file.
    bool SaveIndex(const std::filesystem::path& path, Serialization::ErrorList& errors) const;
    /// Writes the index to "events.index" in the stream's directory.
    bool SaveIndex(Serialization::ErrorList& errors) const;

    /// Opens "events.dat" in `directory` for reading. Fails with "Unable to open events data
    /// file %s, the file does not exist" when it is missing.
    bool OpenDataFile(const std::filesystem::path& directory, Serialization::ErrorList& errors);
    const EventChunkFile& GetDataFile() const { return mDataFile; }
    const std::filesystem::path& GetDirectory() const { return mDirectory; }
    std::filesystem::path GetDataPath() const { return mDirectory / kDataFileName; }

    /// Rewrites a version-1 stream as a version-2 stream ("events.dat" and "events.index"),
    /// keeping the old files as "events_old.dat" and "events_old.index" unless such backups
    /// exist already. `progress` gets the fraction done whenever its whole percentage grows.
    /// A stream of another version is left alone (true). A cancelled or failed upgrade leaves
    /// the files and this object as they were and returns false; only a failure adds an error.
    bool Upgrade(Serialization::ErrorList& errors, const std::atomic<bool>* canceled,
                 const std::function<void(float)>& progress);

private:
    uint64_t mNumEvents = 0;
    std::vector<Chunk> mChunks;
    uint32_t mEventDataVersion = kCurrentEventDataVersion;

    std::filesystem::path mDirectory;
    EventChunkFile mDataFile;
};

} // namespace Profiler
