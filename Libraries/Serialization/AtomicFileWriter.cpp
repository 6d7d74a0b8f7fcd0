#include "Serialization/AtomicFileWriter.h"

#include "Utility/Format.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace Serialization {
namespace {

std::atomic<uint32_t> gTemporaryCounter{0};
thread_local SyncBatch* tCurrentBatch = nullptr;

bool SyncDescriptor(int fd)
{
    while (::fdatasync(fd) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void SyncDirectory(const std::filesystem::path& directory)
{
    const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
        ::fsync(directoryFd);
        ::close(directoryFd);
    }
}

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

SyncBatch::Scope::Scope(SyncBatch* batch) : mPrevious(tCurrentBatch)
{
    tCurrentBatch = batch;
}

SyncBatch::Scope::~Scope()
{
    tCurrentBatch = mPrevious;
}

SyncBatch* SyncBatch::Current()
{
    return tCurrentBatch;
}

void SyncBatch::AddFile(const std::filesystem::path& path)
{
    if (!Contains(path))
        mFiles.push_back(path);
}

bool SyncBatch::Contains(const std::filesystem::path& path) const
{
    return std::find(mFiles.begin(), mFiles.end(), path) != mFiles.end();
}

bool SyncBatch::Flush(std::string& errorText)
{
    std::vector<std::filesystem::path> targets;
    targets.swap(mFiles);
    const std::size_t fileCount = targets.size();
    std::set<std::filesystem::path> directories;
    for (std::size_t i = 0; i < fileCount; ++i)
        directories.insert(targets[i].has_parent_path() ? targets[i].parent_path().lexically_normal()
                                                        : std::filesystem::path("."));
    targets.insert(targets.end(), directories.begin(), directories.end());
    // Every rename is done, so files and directories can all go to disk at once: waits that
    // overlap share the disk's cache flushes and the journal's commits, where one after the
    // other each pays its own.
    std::vector<int> failures(targets.size(), 0);
    auto syncOne = [&](std::size_t i) {
        if (i >= fileCount) {
            SyncDirectory(targets[i]); // nothing to undo if it fails; the files are what matters
            return;
        }
        const int fd = ::open(targets[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || !SyncDescriptor(fd))
            failures[i] = errno != 0 ? errno : EIO;
        if (fd >= 0)
            ::close(fd);
    };
    std::vector<std::thread> workers;
    std::size_t inline_ = 0;
    for (std::size_t i = 1; i < targets.size(); ++i) {
        try {
            workers.emplace_back(syncOne, i);
        } catch (const std::system_error&) {
            inline_ = i; // no thread to be had: the rest waits here, one after the other
            break;
        }
    }
    if (!targets.empty())
        syncOne(0);
    for (std::size_t i = inline_; inline_ != 0 && i < targets.size(); ++i)
        syncOne(i);
    for (std::thread& worker : workers)
        worker.join();
    for (std::size_t i = 0; i < fileCount; ++i)
        if (failures[i] != 0) {
            errorText = targets[i].string() + ": " + std::strerror(failures[i]);
            return false;
        }
    return true;
}

void SyncBatch::CommitNext()
{
    mCommitNext = true;
}

const std::string& SyncBatch::GetError() const
{
    return mError;
}

EFileWriteResult WriteFileAtomically(const std::filesystem::path& path,
                                     std::initializer_list<std::span<const uint8_t>> parts)
{
    const std::filesystem::path target = ResolveTarget(path);
    const std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";

    RemoveStaleTemporaries(directory, target);
    // A batch may take over the flush of a new file; replacing one that exists outside the
    // batch waits for the disk first, so that a crash never leaves neither version.
    SyncBatch* batch = SyncBatch::Current();
    const bool commits = batch != nullptr && std::exchange(batch->mCommitNext, false);
    std::error_code existsError;
    if (batch && !commits && std::filesystem::exists(target, existsError) && !batch->Contains(target))
        batch = nullptr;
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
    ok = ok && (batch != nullptr || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (ok && commits) {
        // The committing file goes to disk with everything it points to, before it takes its name.
        batch->AddFile(temporary);
        ok = batch->Flush(batch->mError);
        batch = nullptr;
    }
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return EFileWriteResult::WriteFailed;
    }
    if (batch) {
        batch->AddFile(target);
        return EFileWriteResult::Written;
    }
    // Make the rename itself durable; a failure here cannot undo the completed write.
    SyncDirectory(directory);
    return EFileWriteResult::Written;
}

} // namespace Serialization
