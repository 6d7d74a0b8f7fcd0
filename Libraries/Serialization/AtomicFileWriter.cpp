#include "Serialization/AtomicFileWriter.h"

#include "Utility/Format.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Serialization {
namespace {

std::atomic<uint32_t> gTemporaryCounter{0};

bool WriteAll(int fd, const uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::filesystem::path ResolveTarget(const std::filesystem::path& path)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error))
        return path;
    std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error)
        return path;
    return target.is_absolute() ? target : path.parent_path() / target;
}

/// Removes the temporaries of earlier writes of `target` whose process has died (killed between
/// creating its temporary and renaming it), so that none stays behind for good.
void RemoveStaleTemporaries(const std::filesystem::path& directory, const std::filesystem::path& target)
{
    const std::string prefix = "." + target.filename().string() + ".tmp-";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || end == nullptr || *end != '-')
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(entry.path(), error);
    }
}

} // namespace

EFileWriteResult WriteFileAtomically(const std::filesystem::path& path,
                                     std::initializer_list<std::span<const uint8_t>> parts)
{
    const std::filesystem::path target = ResolveTarget(path);
    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";

    RemoveStaleTemporaries(directory, target);
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = directory / Utility::Format(".%s.tmp-%d-%u", target.filename().c_str(),
                                                static_cast<int>(::getpid()), gTemporaryCounter.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return EFileWriteResult::OpenFailed;
    }
    if (fd < 0)
        return EFileWriteResult::OpenFailed;

    bool ok = true;
    for (std::span<const uint8_t> part : parts)
        ok = ok && WriteAll(fd, part.data(), part.size());
    struct stat existing {};
    if (ok && ::stat(target.c_str(), &existing) == 0)
        ::fchmod(fd, existing.st_mode & 07777);
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return EFileWriteResult::WriteFailed;
    }
    // Make the rename itself durable; a failure here cannot undo the completed write.
    const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
        ::fsync(directoryFd);
        ::close(directoryFd);
    }
    return EFileWriteResult::Written;
}

} // namespace Serialization
