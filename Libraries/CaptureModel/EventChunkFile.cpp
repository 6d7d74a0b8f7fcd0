#include "CaptureModel/EventChunkFile.h"

#include "System/Platform/ErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace Profiler {

EventChunkFile::~EventChunkFile()
{
    Close();
}

EventChunkFile::EventChunkFile(EventChunkFile&& other) noexcept
    : mDescriptor(std::exchange(other.mDescriptor, -1)), mSize(std::exchange(other.mSize, 0))
{}

EventChunkFile& EventChunkFile::operator=(EventChunkFile&& other) noexcept
{
    if (this != &other) {
        Close();
        mDescriptor = std::exchange(other.mDescriptor, -1);
        mSize = std::exchange(other.mSize, 0);
    }
    return *this;
}

bool EventChunkFile::OpenForReading(const std::filesystem::path& path, std::string& errorText)
{
    return OpenWithFlags(path, O_RDONLY, errorText);
}

bool EventChunkFile::Create(const std::filesystem::path& path, std::string& errorText)
{
    return OpenWithFlags(path, O_WRONLY | O_CREAT | O_TRUNC, errorText);
}

bool EventChunkFile::OpenForAppending(const std::filesystem::path& path, std::string& errorText)
{
    return OpenWithFlags(path, O_WRONLY | O_CREAT | O_APPEND, errorText);
}

bool EventChunkFile::OpenWithFlags(const std::filesystem::path& path, int flags, std::string& errorText)
{
    Close();
    const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        errorText = System::Platform::GetErrorText(errno);
        return false;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
        errorText = System::Platform::GetErrorText(errno);
        ::close(descriptor);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errorText = System::Platform::GetErrorText(EISDIR);
        ::close(descriptor);
        return false;
    }
    mDescriptor = descriptor;
    mSize = static_cast<uint64_t>(status.st_size);
    return true;
}

void EventChunkFile::Close()
{
    if (mDescriptor >= 0)
        ::close(mDescriptor);
    mDescriptor = -1;
    mSize = 0;
}

bool EventChunkFile::Sync(std::string& errorText)
{
    while (::fdatasync(mDescriptor) != 0) {
        if (errno != EINTR) {
            errorText = System::Platform::GetErrorText(errno);
            return false;
        }
    }
    return true;
}

bool EventChunkFile::ReadAt(uint64_t offset, void* buffer, std::size_t size, std::string& errorText) const
{
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(mDescriptor, out, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            errorText = System::Platform::GetErrorText(errno);
            return false;
        }
        if (got == 0) {
            errorText = "Unexpected end of file";
            return false;
        }
        out += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool EventChunkFile::Append(const void* data, std::size_t size, std::string& errorText)
{
    const auto* in = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(mDescriptor, in, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            errorText = System::Platform::GetErrorText(errno);
            return false;
        }
        in += written;
        mSize += static_cast<uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace Profiler
