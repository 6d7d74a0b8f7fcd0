#include "System/Platform/FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace System::Platform {

namespace {

std::string ReadHolder(int descriptor)
{
    char buffer[256];
    const ssize_t count = pread(descriptor, buffer, sizeof(buffer) - 1, 0);
    std::string text(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0'))
        text.pop_back();
    return text.empty() ? std::string("another process") : text;
}

} // namespace

FileLock::~FileLock()
{
    Unlock();
}

FileLock::FileLock(FileLock&& other) noexcept
    : mDescriptor(std::exchange(other.mDescriptor, -1)), mMessage(std::move(other.mMessage))
{}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        Unlock();
        mDescriptor = std::exchange(other.mDescriptor, -1);
        mMessage = std::move(other.mMessage);
    }
    return *this;
}

FileLock::EResult FileLock::TryLock(const std::filesystem::path& path, const std::string& holder)
{
    return Acquire(path, holder, false);
}

FileLock::EResult FileLock::Lock(const std::filesystem::path& path, const std::string& holder)
{
    return Acquire(path, holder, true);
}

FileLock::EResult FileLock::Acquire(const std::filesystem::path& path, const std::string& holder, bool wait)
{
    Unlock();
    mMessage.clear();
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        mMessage = std::strerror(errno);
        return EResult::Failed;
    }
    // flock, not fcntl locks: those belong to the process and are dropped when any descriptor of
    // the file closes, which a reader opening the same file elsewhere in the process would do.
    int result;
    do
        result = flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            mMessage = ReadHolder(descriptor);
            close(descriptor);
            return EResult::Busy;
        }
        mMessage = std::strerror(error);
        close(descriptor);
        return EResult::Failed;
    }
    // The description is only read by those who find the lock taken; a failure to write it costs
    // no more than a vaguer message.
    const std::string text = "process " + std::to_string(getpid()) + " (" + holder + ")\n";
    if (ftruncate(descriptor, 0) == 0 && pwrite(descriptor, text.data(), text.size(), 0) < 0)
        mMessage.clear();
    mDescriptor = descriptor;
    return EResult::Locked;
}

void FileLock::Unlock()
{
    if (mDescriptor < 0)
        return;
    // Emptied first so that a later reader of a lock nobody holds does not blame us.
    if (ftruncate(mDescriptor, 0) != 0)
        mMessage.clear();
    flock(mDescriptor, LOCK_UN);
    close(mDescriptor);
    mDescriptor = -1;
}

} // namespace System::Platform
