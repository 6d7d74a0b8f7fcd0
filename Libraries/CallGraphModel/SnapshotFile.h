#pragma once

#include "CaptureModel/EventChunkCompression.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <shared_mutex>
#include <string>
#include <vector>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// The model's "Snapshots.dat": compressed snapshot records appended while a capture is
/// processed and read back by queries. Reads are positional, so any number of readers (queries
/// and their read-ahead jobs) share the file without a common seek position; the one writer
/// appends meanwhile.
class SnapshotFile {
public:
    enum class EMode : uint8_t { Closed, Writing, Reading };

    /// The buffers of one read: the compressed bytes and the decompressed record.
    struct ReadBuffer {
        std::vector<uint8_t> compressed;
        EventChunkDecompressor decompressor;
        const uint8_t* GetData() const { return decompressor.GetData(); }
        std::size_t GetSize() const { return decompressor.GetSize(); }
    };

    SnapshotFile() = default;
    ~SnapshotFile();
    SnapshotFile(const SnapshotFile&) = delete;
    SnapshotFile& operator=(const SnapshotFile&) = delete;

    /// Opens the file for appending (creating it; reads stay possible) or for reading. A file
    /// already open for writing is reused for either, one open for reading only for reading.
    /// Failure: "Unable to open file %s for %s.".
    bool Open(const std::filesystem::path& path, EMode mode, Serialization::ErrorList& errors);
    /// False when the system reports a failure while closing.
    bool Close();
    /// Forces what was appended to the disk; false with the system's error text.
    bool Sync(std::string& error);
    EMode GetMode() const;

    /// Appends one record and gives its offset; false with the system's error text.
    bool Append(const uint8_t* data, std::size_t size, uint64_t& offset, std::string& error);
    /// Reads and decompresses the record of `size` bytes at `offset` into `buffer`.
    bool ReadRecord(uint64_t offset, uint64_t size, ReadBuffer& buffer, std::string& error) const;
    /// As ReadRecord, but only the record's first `wanted` bytes (the whole record when it is no
    /// larger); the buffer's decompressor tells whether it got the whole record.
    bool ReadRecordPrefix(uint64_t offset, uint64_t size, std::size_t wanted, ReadBuffer& buffer,
                          std::string& error) const;

private:
    /// Both under the shared lock.
    bool CheckReadable(uint64_t size, std::string& error) const;
    bool ReadAt(uint64_t offset, uint8_t* into, std::size_t size, std::string& error) const;

    mutable std::shared_mutex mMutex; ///< exclusive to open and close, shared to read and append
    int mDescriptor = -1;
    EMode mMode = EMode::Closed;
    std::atomic<uint64_t> mSize{0};
};

} // namespace Profiler
