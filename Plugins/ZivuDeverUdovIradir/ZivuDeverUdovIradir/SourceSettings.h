#pragma once

#include "RTTI/Reflection.h"
#include "Utility/ErrorList.h"
#include "ZivuDeverUdovIradir/AdditionalSourceLocations.h"

#include <memory>
#include <string>

namespace Profiler {

/// The file the source settings live in, relative to the current directory.
inline constexpr const char* kSourceSettingsFileName = "SourcePlugin.json";

/// What the source view keeps across sessions: the source path mappings the user made by
/// browsing, and the directory browsed last. Whoever changes it saves it (SaveSourceSettings).
class SourceSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(SourceSettings);

    AdditionalSourceLocations mAdditionalSourceLocations;
    std::string mLastUsedBrowseDirectory;
};

/// Reads kSourceSettingsFileName through `registry`. Null with an error record when the file is
/// missing (code 1), unreadable, or holds no SourceSettings object (code 6).
std::unique_ptr<SourceSettings> LoadSourceSettings(const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors);
/// Writes the record as the only object of kSourceSettingsFileName; logs a failure.
void SaveSourceSettings(const SourceSettings& settings);

} // namespace Profiler
