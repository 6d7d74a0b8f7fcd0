#include "SymbolResolution/SourceLocations.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace Profiler {

namespace {

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

} // namespace

std::vector<std::string> SplitPathComponents(std::string_view path)
{
    std::vector<std::string> components;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\')
            continue;
        if (i > start)
            components.emplace_back(path.substr(start, i - start));
        else if (i == 0 && !path.empty())
            components.emplace_back(); // the root of "/usr/src/..."
        start = i + 1;
    }
    return components;
}

std::string JoinPathComponents(const std::vector<std::string>& components, std::size_t begin, std::size_t end)
{
    std::string joined;
    for (std::size_t i = begin; i < end; ++i) {
        if (i > begin)
            joined += '/';
        joined += components[i];
    }
    // The root alone: its empty component would join to nothing.
    if (end == begin + 1 && components[begin].empty())
        joined = "/";
    return joined;
}

bool PathComponentsEqual(std::string_view left, std::string_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

void AddSourceLocation(SourcePathMappings& locations, const std::string& recordedPath,
                       const std::string& chosenPath)
{
    const std::vector<std::string> recorded = SplitPathComponents(recordedPath);
    const std::vector<std::string> chosen = SplitPathComponents(chosenPath);
    std::size_t recordedEnd = recorded.size();
    std::size_t chosenEnd = chosen.size();
    while (recordedEnd > 0 && chosenEnd > 0 &&
           PathComponentsEqual(recorded[recordedEnd - 1], chosen[chosenEnd - 1])) {
        --recordedEnd;
        --chosenEnd;
    }
    const std::string originalPrefix = JoinPathComponents(recorded, 0, recordedEnd);
    const std::string newPrefix = JoinPathComponents(chosen, 0, chosenEnd);
    // The same file chosen again teaches nothing.
    if (originalPrefix.empty() && newPrefix.empty())
        return;

    auto found = std::find_if(locations.begin(), locations.end(), [&](const SourcePathMapping& location) {
        return location.OriginalPathPrefix == originalPrefix;
    });
    if (found == locations.end()) {
        locations.insert(locations.begin(), SourcePathMapping{originalPrefix, {newPrefix}});
        return;
    }
    std::vector<std::string>& prefixes = found->NewPathPrefixes;
    auto known = std::find(prefixes.begin(), prefixes.end(), newPrefix);
    if (known != prefixes.end())
        std::rotate(prefixes.begin(), known, known + 1);
    else
        prefixes.insert(prefixes.begin(), newPrefix);
    std::rotate(locations.begin(), found, found + 1);
}

std::vector<std::string> GetCandidatePaths(const SourcePathMappings& locations, const std::string& path,
                                           const FileExistsFunction& exists)
{
    const std::vector<std::string> components = SplitPathComponents(path);
    std::vector<std::string> candidates;
    for (const SourcePathMapping& location : locations) {
        const std::vector<std::string> prefix = SplitPathComponents(location.OriginalPathPrefix);
        if (prefix.size() > components.size() ||
            !std::equal(prefix.begin(), prefix.end(), components.begin(),
                        [](const std::string& a, const std::string& b) { return PathComponentsEqual(a, b); }))
            continue;
        const std::string rest = JoinPathComponents(components, prefix.size(), components.size());
        for (const std::string& newPrefix : location.NewPathPrefixes) {
            std::string candidate = newPrefix;
            if (!rest.empty() && !candidate.empty() && candidate.back() != '/' && candidate.back() != '\\')
                candidate += '/';
            candidate += rest.empty() || rest.front() != '/' || candidate.empty() ? rest : rest.substr(1);
            if (exists ? exists(candidate) : IsRegularFile(candidate))
                candidates.push_back(std::move(candidate));
        }
    }
    return candidates;
}

} // namespace Profiler
