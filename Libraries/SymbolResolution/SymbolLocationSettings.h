#pragma once

#include "RTTI/Reflection.h"
#include "SymbolResolution/ResolveLog.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Profiler {

class SymbolResolver;

/// The user's symbol locations: local folders searched for images and debug files, and debug
/// files picked by hand for one build. Kept in a JSON object file of its own, written at once on
/// every change, so the modules view and the views that read debug information see the same places.
class SymbolLocationSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolLocationSettings);

    /// Beside the other settings files, in the current directory.
    static constexpr const char* kFileName = "SymbolLocations.json";

    /// Adds the search places to `options` (after the ones already there).
    void ApplyTo(SymbolSearchOptions& options) const;
    SymbolSearchOptions MakeOptions() const
    {
        SymbolSearchOptions options;
        ApplyTo(options);
        return options;
    }

    std::vector<std::string> mLocalFolders;
    /// Build id (or image path for images without one) to the debug file picked for it.
    std::map<std::string, std::string> mLocatedDebugFiles;
};

/// The settings stored at `path`; null with an error when the file is missing (code 1, "Unable
/// to open file"), unreadable, or holds no SymbolLocationSettings (code 6).
std::unique_ptr<SymbolLocationSettings> LoadSymbolLocationSettings(const std::filesystem::path& path,
                                                                   Serialization::ErrorList& errors);
/// The stored settings, or defaults (no folders) when there are none: a missing or damaged file
/// must not keep the user from working. Problems go to `errors` all the same.
std::unique_ptr<SymbolLocationSettings>
LoadSymbolLocationSettingsOrDefaults(const std::filesystem::path& path, Serialization::ErrorList& errors);

/// A resolver that searches the user's symbol locations besides the system's places; a damaged
/// settings file gives the system's places only.
std::shared_ptr<SymbolResolver>
MakeUserSymbolResolver(const std::filesystem::path& path = SymbolLocationSettings::kFileName);

/// Writes the settings as the only root object of `path`; the old file is replaced only once the
/// new one is complete.
[[nodiscard]] bool SaveSymbolLocationSettings(const std::filesystem::path& path,
                                              const SymbolLocationSettings& settings,
                                              Serialization::ErrorList& errors);

} // namespace Profiler
