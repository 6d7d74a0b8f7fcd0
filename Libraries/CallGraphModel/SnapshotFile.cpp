#include "CallGraphModel/SnapshotFile.h"

#include "System/Platform/ErrorText.h"
#include "Utility/ErrorList.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Profiler {

namespace {

/// No record is ever this large; a size beyond it comes from a damaged table.
constexpr uint64_t kMaxRecordBytes = uint64_t{1} << 40;

} // namespace

SnapshotFile::~SnapshotFile()
{
    Close();
}

bool SnapshotFile::Open(const std::filesystem::path& path, EMode mode, Serialization::ErrorList& errors)
{
    std::unique_lock lock(mMutex);
    if (mDescriptor >= 0 && (mMode == EMode::Writing || mode == EMode::Reading))
        return true;
    if (mDescriptor >= 0)
        ::close(mDescriptor);
    mDescriptor = -1;
    mMode = EMode::Closed;
    const int flags = mode == EMode::Writing ? O_RDWR | O_CREAT | O_APPEND : O_RDONLY;
    const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    struct stat status;
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0) {
        if (descriptor >= 0)
            ::close(descriptor);
        errors.AddFormatted(Serialization::EErrorCode::FileAccess, "Unable to open file %s for %s.",
                            path.string().c_str(), mode == EMode::Writing ? "writing" : "reading");
        return false;
    }
    mDescriptor = descriptor;
    mMode = mode;
    mSize.store(static_cast<uint64_t>(status.st_size));
    return true;
}

bool SnapshotFile::Close()
{
    std::unique_lock lock(mMutex);
    if (mDescriptor < 0)
        return true;
    const bool closed = ::close(mDescriptor) == 0;
    mDescriptor = -1;
    mMode = EMode::Closed;
    return closed;
}

bool SnapshotFile::Sync(std::string& error)
{
    std::shared_lock lock(mMutex);
    if (mDescriptor < 0) {
        error = System::Platform::GetErrorText(EBADF);
        return false;
    }
    while (::fdatasync(mDescriptor) != 0) {
        if (errno != EINTR) {
            error = System::Platform::GetErrorText(errno);
            return false;
        }
    }
    return true;
}

SnapshotFile::EMode SnapshotFile::GetMode() const
{
    std::shared_lock lock(mMutex);
    return mMode;
}

bool SnapshotFile::Append(const uint8_t* data, std::size_t size, uint64_t& offset, std::string& error)
{
    std::shared_lock lock(mMutex);
    if (mDescriptor < 0 || mMode != EMode::Writing) {
        error = System::Platform::GetErrorText(EBADF);
        return false;
    }
    offset = mSize.load();
    std::size_t written = 0;
    while (written < size) {
        const ssize_t result = ::write(mDescriptor, data + written, size - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0) {
            error = System::Platform::GetErrorText(result < 0 ? errno : EIO);
            // Whatever part was written stays unreferenced; later records follow it.
            mSize.fetch_add(written);
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    mSize.fetch_add(written);
    return true;
}

bool SnapshotFile::ReadAt(uint64_t offset, uint8_t* into, std::size_t size, std::string& error) const
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t result = ::pread(mDescriptor, into + done, size - done, static_cast<off_t>(offset + done));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0) {
            error = result < 0 ? System::Platform::GetErrorText(errno) : "The snapshot lies beyond the end of the file";
            return false;
        }
        done += static_cast<std::size_t>(result);
    }
    return true;
}

bool SnapshotFile::CheckReadable(uint64_t size, std::string& error) const
{
    if (mDescriptor < 0) {
        error = System::Platform::GetErrorText(EBADF);
        return false;
    }
    if (size > kMaxRecordBytes || size > std::numeric_limits<std::size_t>::max()) {
        error = "The snapshot's size is implausible";
        return false;
    }
    return true;
}

bool SnapshotFile::ReadRecord(uint64_t offset, uint64_t size, ReadBuffer& buffer, std::string& error) const
{
    {
        std::shared_lock lock(mMutex);
        if (!CheckReadable(size, error))
            return false;
        if (buffer.compressed.size() < size)
            buffer.compressed.resize(static_cast<std::size_t>(size));
        if (!ReadAt(offset, buffer.compressed.data(), static_cast<std::size_t>(size), error))
            return false;
    }
    return buffer.decompressor.Decompress(buffer.compressed.data(), static_cast<std::size_t>(size),
                                          std::numeric_limits<uint64_t>::max(), error);
}

bool SnapshotFile::ReadRecordPrefix(uint64_t offset, uint64_t size, std::size_t wanted, ReadBuffer& buffer,
                                    std::string& error) const
{
    std::shared_lock lock(mMutex);
    if (!CheckReadable(size, error))
        return false;
    return buffer.decompressor.DecompressPrefix(
        static_cast<std::size_t>(size), wanted,
        [&](uint64_t at, uint8_t* into, std::size_t bytes, std::string& readError) {
            return ReadAt(offset + at, into, bytes, readError);
        },
        error);
}

} // namespace Profiler
