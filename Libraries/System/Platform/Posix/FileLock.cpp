#include "System/Platform/FileLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace System::Platform {

namespace {

/// The command line of a process, arguments separated by blanks; empty when it cannot be read.
std::string ReadCommandLine(long pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (char& c : text)
        if (c == '\0')
            c = ' ';
        else if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return text;
}

/// Who holds a flock on the file behind `descriptor`: the kernel lists every lock with its
/// owner's process and the file's device and inode in /proc/locks.
std::string DescribeHolder(int descriptor)
{
    struct stat status {};
    if (fstat(descriptor, &status) != 0)
        return "another process";
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file) || kind != "FLOCK")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (inode != status.st_ino || major != major(status.st_dev) || minor != minor(status.st_dev))
            continue;
        const std::string command = ReadCommandLine(pid);
        return "process " + std::to_string(pid) + (command.empty() ? "" : " (" + command + ")");
    }
    return "another process";
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

FileLock::EResult FileLock::TryLock(const std::filesystem::path& path)
{
    return Acquire(path, false);
}

FileLock::EResult FileLock::Lock(const std::filesystem::path& path)
{
    return Acquire(path, true);
}

FileLock::EResult FileLock::Acquire(const std::filesystem::path& path, bool wait)
{
    Unlock();
    mMessage.clear();
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
        mMessage = error == EWOULDBLOCK ? DescribeHolder(descriptor) : std::strerror(error);
        close(descriptor);
        return error == EWOULDBLOCK ? EResult::Busy : EResult::Failed;
    }
    mDescriptor = descriptor;
    return EResult::Locked;
}

void FileLock::Unlock()
{
    if (mDescriptor < 0)
        return;
    close(mDescriptor); // drops the lock
    mDescriptor = -1;
}

} // namespace System::Platform
