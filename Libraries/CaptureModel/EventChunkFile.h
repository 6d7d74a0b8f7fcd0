#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace Profiler {

/// A file handle for the chunked data files ("events.dat", "stacks.dat"). Reads are positional
/// (pread), so any number of threads may read through one handle at the same time; writes
/// append at the end and keep track of the position. Failures return false and leave the
/// system's description of the error in the given string.
class EventChunkFile {
public:
    EventChunkFile() = default;
    ~EventChunkFile();
    EventChunkFile(EventChunkFile&& other) noexcept;
    EventChunkFile& operator=(EventChunkFile&& other) noexcept;
    EventChunkFile(const EventChunkFile&) = delete;
    EventChunkFile& operator=(const EventChunkFile&) = delete;

    bool OpenForReading(const std::filesystem::path& path, std::string& errorText);
    /// Creates the file, or empties it when it exists.
    bool Create(const std::filesystem::path& path, std::string& errorText);
    /// Opens or creates the file; writes go to its end.
    bool OpenForAppending(const std::filesystem::path& path, std::string& errorText);
    void Close();

    bool IsOpen() const { return mDescriptor >= 0; }
    /// The size at opening plus everything appended since.
    uint64_t GetSize() const { return mSize; }

    /// Reads exactly `size` bytes at `offset`; reading past the end is an error.
    bool ReadAt(uint64_t offset, void* buffer, std::size_t size, std::string& errorText) const;
    /// Writes all bytes at the end of the file.
    bool Append(const void* data, std::size_t size, std::string& errorText);
    /// Waits until the file's data is on disk.
    bool Sync(std::string& errorText);

private:
    bool OpenWithFlags(const std::filesystem::path& path, int flags, std::string& errorText);

    int mDescriptor = -1;
    uint64_t mSize = 0;
};

} // namespace Profiler
