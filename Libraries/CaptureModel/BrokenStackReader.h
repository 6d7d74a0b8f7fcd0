#pragma once

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkFile.h"
#include "CaptureModel/Identifiers.h"
#include "Utility/ErrorList.h"

namespace RTTI {
class Registry;
}

namespace System::Platform {
class MappedFile;
}

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Profiler {

/// The broken stack stream of a capture opened for reading: the index and "stacks.dat". Reads
/// are positional, so cursors on several threads may share one reader; each BrokenStackCursor
/// keeps its own buffers.
class BrokenStackReader {
public:
    /// Reads "stacks.index" in `directory` and opens "stacks.dat" for reading.
    bool Open(const std::filesystem::path& directory, const RTTI::Registry& registry,
              Serialization::ErrorList& errors);
    /// Opens "stacks.dat" in `directory` for the chunks that `index` lists.
    bool Open(const std::filesystem::path& directory, BrokenStackIndex index,
              Serialization::ErrorList& errors);

    BrokenStackReader();
    ~BrokenStackReader();
    BrokenStackReader(const BrokenStackReader&) = delete;
    BrokenStackReader& operator=(const BrokenStackReader&) = delete;

    const BrokenStackIndex& GetIndex() const { return mIndex; }
    const std::filesystem::path& GetDataPath() const { return mDataPath; }

    /// Decompresses and checks one stored chunk into `records`.
    static bool DecodeChunk(const uint8_t* stored, std::size_t size, EventChunkDecompressor& decompressor,
                            std::vector<BrokenStackRecord>& records, std::string& error);
    /// Reads and checks one chunk into `records`, using the caller's buffers.
    bool ReadChunk(const BrokenStackIndex::Chunk& chunk, std::vector<uint8_t>& stored,
                   EventChunkDecompressor& decompressor, std::vector<BrokenStackRecord>& records,
                   std::string& error) const;

private:
    BrokenStackIndex mIndex;
    std::filesystem::path mDataPath;
    /// The file mapped, at the first chunk read; null when it cannot be.
    const System::Platform::MappedFile* GetMapping() const;

    EventChunkFile mFile;
    mutable std::mutex mMapMutex;
    mutable std::atomic<bool> mMapDecided{false};
    mutable std::unique_ptr<System::Platform::MappedFile> mMapping; ///< written once, before mMapDecided
};

/// Answers for one thread, time after time, whether the thread's stacks are unrooted at that
/// time. Lookups in increasing time order continue from the last one; earlier times search again.
class BrokenStackCursor {
public:
    /// Where the cursor stands: a chunk of the thread and a record in it.
    struct Position {
        uint32_t chunkIndex = 0;
        uint32_t recordIndex = 0;
        friend bool operator==(const Position&, const Position&) = default;
    };

    BrokenStackCursor(const BrokenStackReader& reader, ThreadID thread);

    /// The range that contains `time` ([start, end)), or null when the thread's stacks are
    /// rooted then. A chunk that cannot be read counts as rooted and sets HasFailed.
    const BrokenStackRecord* Find(double time);

    Position GetPosition() const { return mPosition; }
    void SetPosition(const Position& position) { mPosition = position; }
    bool HasFailed() const { return !mErrors.IsEmpty(); }
    const Serialization::ErrorList& GetErrors() const { return mErrors; }

private:
    bool LoadChunk(uint32_t chunkIndex);

    const BrokenStackReader& mReader;                    // not owned
    const std::vector<BrokenStackIndex::Chunk>* mChunks; // not owned; null when the thread has none
    Position mPosition;
    uint32_t mLoadedChunk = ~0u;
    std::vector<BrokenStackRecord> mRecords;
    std::vector<uint8_t> mStored;
    EventChunkDecompressor mDecompressor;
    Serialization::ErrorList mErrors;
};

} // namespace Profiler
