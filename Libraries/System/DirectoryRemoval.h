#pragma once

#include <filesystem>

namespace Serialization {
class ErrorList;
}

// Deleting stored data: files, and directory trees emptied or removed recursively. Every
// failure is described in the error list; the first failure stops the walk and nothing is
// rolled back. Symbolic links are removed, never followed.

namespace System {

/// Results of the removal functions.
constexpr int kRemoveSucceeded = 0;
constexpr int kRemoveFailed = 1;
constexpr int kRemoveAccessDenied = 2;

/// Deletes everything inside `path` and keeps the directory. A missing directory succeeds.
int ClearDirectory(const std::filesystem::path& path, Serialization::ErrorList& errors);
/// Deletes everything inside `path`, then the directory (a symbolic link at `path` is removed
/// itself). A missing directory succeeds.
int RemoveDirectory(const std::filesystem::path& path, Serialization::ErrorList& errors);
/// Deletes one file or symbolic link; a missing file succeeds. Reports nothing itself.
int DeleteFile(const std::filesystem::path& path);

} // namespace System
