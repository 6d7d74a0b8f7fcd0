#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// File queries and the primitives that recursive removal is built on. Errors are reduced to the
// few kinds that callers tell apart.

namespace System::Platform {

enum class EFileError : uint8_t {
    None = 0,
    NotFound,     ///< the path or one of its parents does not exist
    AccessDenied, ///< permissions, or a file that is protected from change
    Other,
};

struct DirectoryEntry {
    std::string name;
    /// True only for a real directory; a symbolic link to a directory is not one, so walks
    /// never leave the tree they were given.
    bool isDirectory = false;
};

bool FileExists(const std::filesystem::path& path);
bool IsDirectory(const std::filesystem::path& path);
/// The file's size in bytes, or -1 when it cannot be queried.
int64_t GetFileSize(const std::filesystem::path& path);
/// True when nobody has write permission on the file (the file's own attribute, not whether
/// the calling user could write it).
bool IsReadOnly(const std::filesystem::path& path);

/// The entries of a directory except "." and "..", sorted by name so that walks are repeatable.
EFileError ListDirectory(const std::filesystem::path& path, std::vector<DirectoryEntry>& entries);
/// Removes a file or a symbolic link (never what a link points to).
EFileError DeleteFileEntry(const std::filesystem::path& path);
/// Removes an empty directory.
EFileError RemoveEmptyDirectory(const std::filesystem::path& path);

} // namespace System::Platform
