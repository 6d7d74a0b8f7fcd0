#include "ZivuDeverUdovIradir/SourceSettings.h"

#include "ZivuDeverUdovIradir/SettingsFile.h"

QX_RTTI_DEFINE_CLASS(Profiler::SourceSettings, 1)
{
    type.Property("AdditionalSourceLocations", &SourceSettings::mAdditionalSourceLocations)
        .Property("LastUsedBrowseDirectory", &SourceSettings::mLastUsedBrowseDirectory);
}

namespace Profiler {

std::unique_ptr<SourceSettings> LoadSourceSettings(const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors)
{
    std::unique_ptr<RTTI::Object> object =
        SettingsFile::Load(kSourceSettingsFileName, SourceSettings::StaticType(), registry, errors);
    return std::unique_ptr<SourceSettings>(static_cast<SourceSettings*>(object.release()));
}

void SaveSourceSettings(const SourceSettings& settings)
{
    SettingsFile::Save(kSourceSettingsFileName, settings);
}

} // namespace Profiler
