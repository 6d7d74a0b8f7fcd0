#include "ZivuDeverUdovIradir/AdditionalSourceLocations.h"

#include "RTTI/ObjectFactory.h"
#include "Serialization/Json.h"
#include "System/Log.h"

QX_RTTI_DEFINE_CLASS(Profiler::AdditionalSourceLocations::Location, 1)
{
    type.Property("OriginalPathPrefix", &Location::mOriginalPathPrefix)
        .Property("NewPathPrefixes", &Location::mNewPathPrefixes);
}

QX_RTTI_DEFINE_CLASS(Profiler::AdditionalSourceLocations, 1)
{
    type.Property("Locations", &AdditionalSourceLocations::mLocations);
}

namespace Profiler {

SourcePathMappings AdditionalSourceLocations::ToMappings() const
{
    SourcePathMappings mappings;
    mappings.reserve(mLocations.size());
    for (const Location& location : mLocations)
        mappings.push_back({location.mOriginalPathPrefix, location.mNewPathPrefixes});
    return mappings;
}

void AdditionalSourceLocations::SetFromMappings(const SourcePathMappings& mappings)
{
    mLocations.clear();
    for (const SourcePathMapping& mapping : mappings)
        mLocations.push_back({mapping.OriginalPathPrefix, mapping.NewPathPrefixes});
}

void AdditionalSourceLocations::AddLocation(const std::string& recordedPath, const std::string& chosenPath)
{
    SourcePathMappings mappings = ToMappings();
    AddSourceLocation(mappings, recordedPath, chosenPath);
    SetFromMappings(mappings);
}

std::vector<std::string> AdditionalSourceLocations::GetCandidatePaths(const std::string& path,
                                                                      const FileExistsFunction& exists) const
{
    return Profiler::GetCandidatePaths(ToMappings(), path, exists);
}

AdditionalSourceLocations LoadLocalSourceLocations(const std::filesystem::path& file,
                                                   const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors)
{
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!Serialization::ReadJsonFile(file, registry, RTTI::GetDefaultObjectFactory(), roots, errors))
        return {};
    for (const std::unique_ptr<RTTI::Object>& root : roots)
        if (root && RTTI::IsA<AdditionalSourceLocations>(root->GetType()))
            return std::move(static_cast<AdditionalSourceLocations&>(*root));
    Serialization::ErrorList::ContextScope context(errors, file.string());
    errors.Add(Serialization::EErrorCode::Corrupt, "The file does not appear to be a SourceViewMappings file "
                                                   "(missing AdditionalSourceLocations object)");
    return {};
}

bool SaveLocalSourceLocations(const std::filesystem::path& file, const AdditionalSourceLocations& locations)
{
    Serialization::ErrorList errors;
    if (Serialization::WriteJsonFile(file, {&locations}, errors))
        return true;
    System::Log("Failed to save additional source mappings: %s",
                errors.IsEmpty() ? "" : errors.GetErrors().front().message.c_str());
    return false;
}

} // namespace Profiler
