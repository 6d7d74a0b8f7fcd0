#include "System/Platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace System::Platform {
namespace {

bool LinkStatus(const std::filesystem::path& path, struct stat& status)
{
    return lstat(path.c_str(), &status) == 0;
}

EFileError FromErrno(int error, const std::filesystem::path& path)
{
    switch (error) {
    case 0:
        return EFileError::None;
    case EACCES:
    case EPERM:
        return EFileError::AccessDenied;
    case ENOENT:
        return EFileError::NotFound;
    case ENOTDIR: {
        // Either a parent is not a directory (nothing exists at the path) or the path itself
        // names something other than a directory, which is a real failure.
        struct stat status;
        return LinkStatus(path, status) ? EFileError::Other : EFileError::NotFound;
    }
    default:
        return EFileError::Other;
    }
}

} // namespace

bool FileExists(const std::filesystem::path& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::filesystem::path& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int64_t GetFileSize(const std::filesystem::path& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return -1;
    return static_cast<int64_t>(status.st_size);
}

bool IsReadOnly(const std::filesystem::path& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

EFileError ListDirectory(const std::filesystem::path& path, std::vector<DirectoryEntry>& entries)
{
    entries.clear();
    DIR* directory = opendir(path.c_str());
    if (!directory)
        return FromErrno(errno, path);
    const int directoryFd = dirfd(directory);
    EFileError result = EFileError::None;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory);
        if (!entry) {
            if (errno != 0)
                result = EFileError::Other;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status;
            isDirectory = fstatat(directoryFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(status.st_mode);
        }
        entries.push_back({std::string(name), isDirectory});
    }
    closedir(directory);
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return result;
}

EFileError DeleteFileEntry(const std::filesystem::path& path)
{
    return unlink(path.c_str()) == 0 ? EFileError::None : FromErrno(errno, path);
}

EFileError RemoveEmptyDirectory(const std::filesystem::path& path)
{
    return rmdir(path.c_str()) == 0 ? EFileError::None : FromErrno(errno, path);
}

} // namespace System::Platform
