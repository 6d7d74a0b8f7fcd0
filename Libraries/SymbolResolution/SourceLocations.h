#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Source files named by the path they had on the build machine are found on this one through
// prefix mappings that the user taught by browsing once to the right file.

namespace Profiler {

/// One recorded directory prefix and the local prefixes that replace it, most recently used first.
struct SourcePathMapping {
    std::string OriginalPathPrefix;
    std::vector<std::string> NewPathPrefixes;
};

/// Most recently used first.
using SourcePathMappings = std::vector<SourcePathMapping>;

/// The components of a path split at "/" and "\". Empty components are dropped, except a leading
/// one that stands for the root of an absolute POSIX path.
std::vector<std::string> SplitPathComponents(std::string_view path);
/// The components joined with "/"; a leading empty component gives an absolute path.
std::string JoinPathComponents(const std::vector<std::string>& components, std::size_t begin,
                               std::size_t end);
/// Byte-wise, ignoring the case of ASCII letters.
bool PathComponentsEqual(std::string_view left, std::string_view right);

/// Records the mapping learned from one browse: the prefixes of both paths before their common
/// tail. The mapping (and within it the new prefix) moves to the front.
void AddSourceLocation(SourcePathMappings& locations, const std::string& recordedPath,
                       const std::string& chosenPath);

using FileExistsFunction = std::function<bool(const std::string& path)>;

/// The existing files that the mappings make of `path`, in mapping order. `exists` defaults to
/// a check for a regular file.
std::vector<std::string> GetCandidatePaths(const SourcePathMappings& locations, const std::string& path,
                                           const FileExistsFunction& exists = {});

} // namespace Profiler
