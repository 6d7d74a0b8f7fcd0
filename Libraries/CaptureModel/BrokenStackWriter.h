#pragma once

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkFile.h"
#include "CaptureModel/Identifiers.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <map>
#include <vector>

namespace Profiler {

/// Records, while a capture is processed, the ranges of each thread's time in which its stacks
/// were not rooted. Each thread has at most one open range: BeginRange opens one at the first
/// unrooted stack, EndRange closes it at the next rooted stack. Closed records are buffered per
/// thread and written to "stacks.dat" 250 at a time; Finish writes the rest and "stacks.index".
class BrokenStackWriter {
public:
    /// Opens "stacks.dat" in `directory` for appending. Fails with "Unable to initialize broken
    /// stack processing state%s. Error: %s".
    bool Open(const std::filesystem::path& directory, Serialization::ErrorList& errors);

    /// Opens a range for the thread at `time` unless one is open.
    void BeginRange(ThreadID thread, double time);
    /// Closes the thread's open range at `time` with the stack that closed it; nothing happens
    /// when no range is open.
    void EndRange(ThreadID thread, double time, uint64_t stackId);
    /// Closes every open range at the largest double with no stack, writes every pending record
    /// and the index. Also reports a write error met by an earlier EndRange.
    bool Finish(Serialization::ErrorList& errors);

    const BrokenStackIndex& GetIndex() const { return mIndex; }

private:
    struct ThreadState {
        double openStart = -1.0; ///< -1.0: no open range
        std::vector<BrokenStackRecord> pending;
    };

    void CloseRange(int32_t thread, ThreadState& state, double time, uint64_t stackId);
    bool WriteChunk(int32_t thread, ThreadState& state);

    std::filesystem::path mDirectory;
    EventChunkFile mFile;
    EventChunkCompressor mCompressor;
    std::vector<uint8_t> mChunkBytes;
    std::map<int32_t, ThreadState> mThreads;
    BrokenStackIndex mIndex;
    Serialization::ErrorList mWriteErrors; ///< the first write error, reported by Finish
};

} // namespace Profiler
