#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// One range of a thread's time in which its stacks could not be rooted (did not reach the
/// thread's base function): [start, end), closed by the rooted stack `stackId` (all ones when
/// the range was still open at the end of processing).
struct BrokenStackRecord {
    double startTime = 0.0;
    double endTime = 0.0;
    uint64_t stackId = ~0ull;
};
static_assert(sizeof(BrokenStackRecord) == 24, "records are stored as they are in memory");

/// The index of the broken stack stream: per thread, the chunks of "stacks.dat" that hold its
/// records, in time order. Each chunk is one zstd frame of a u64 record count and the records.
class BrokenStackIndex : public RTTI::Object {
    QX_RTTI_CLASS(BrokenStackIndex);

    struct Chunk {
        QX_RTTI_STRUCT(Chunk);
        double mStartTime = 0.0;  ///< the first record's start
        double mEndTime = 0.0;    ///< the last record's end
        uint64_t mFileOffset = 0; ///< where the chunk starts in "stacks.dat"
        uint64_t mSize = 0;       ///< compressed size in bytes
    };
    using ChunkMap = std::map<int32_t, std::vector<Chunk>>;

    static constexpr const char* kDataFileName = "stacks.dat";
    static constexpr const char* kIndexFileName = "stacks.index";
    /// Records per chunk: a thread's pending records are written whenever this many gathered.
    static constexpr uint32_t kRecordsPerChunk = 250;

    const ChunkMap& GetChunksByThread() const { return mChunksByThread; }
    ChunkMap& GetChunksByThread() { return mChunksByThread; }
    /// The chunks of one thread, or null when it has none.
    const std::vector<Chunk>* FindChunks(int32_t thread) const;

    /// Reads "stacks.index". Fails with "Unable to open file" when it is missing and with "The
    /// file does not appear to be a BrokenStackIndex file (missing BrokenStackIndex object)".
    static std::unique_ptr<BrokenStackIndex>
    Load(const std::filesystem::path& path, const RTTI::Registry& registry, Serialization::ErrorList& errors);
    bool Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const;

private:
    ChunkMap mChunksByThread;
};

} // namespace Profiler
