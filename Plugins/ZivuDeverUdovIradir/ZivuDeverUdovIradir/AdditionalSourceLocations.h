#pragma once

#include "RTTI/Reflection.h"
#include "SymbolResolution/SourceLocations.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Profiler {

/// Directory mappings that let the source view find files whose recorded path does not exist
/// on this machine: a path that begins with a location's original prefix is also looked up
/// with that beginning replaced by each of its new prefixes.
class AdditionalSourceLocations : public RTTI::Object {
public:
    QX_RTTI_CLASS(AdditionalSourceLocations);

    struct Location {
        QX_RTTI_STRUCT(Location);

        std::string mOriginalPathPrefix;
        std::vector<std::string> mNewPathPrefixes; ///< most recently used first
    };

    std::vector<Location> mLocations; ///< most recently used first

    /// The file that keeps a capture's own mappings, in the view's state directory.
    static constexpr const char* kLocalFileName = "SourceViewMappings.json";

    /// Records the mapping learned when the user browsed from `recordedPath` to `chosenPath`.
    void AddLocation(const std::string& recordedPath, const std::string& chosenPath);
    /// The existing files that the mappings make of `path`, in order.
    std::vector<std::string> GetCandidatePaths(const std::string& path,
                                               const FileExistsFunction& exists = {}) const;

    SourcePathMappings ToMappings() const;
    void SetFromMappings(const SourcePathMappings& mappings);
};

/// Reads a capture's mappings. Empty, with an error, when the file cannot be read or holds no
/// AdditionalSourceLocations object.
AdditionalSourceLocations LoadLocalSourceLocations(const std::filesystem::path& file,
                                                   const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors);
/// Writes a capture's mappings; a failure is logged ("Failed to save additional source mappings").
[[nodiscard]] bool SaveLocalSourceLocations(const std::filesystem::path& file,
                                            const AdditionalSourceLocations& locations);

} // namespace Profiler
