#include "SymbolResolution/SymbolLocationSettings.h"

#include "RTTI/Registry.h"
#include "Serialization/Json.h"
#include "Serialization/Schema.h"
#include "SymbolResolution/SymbolResolver.h"
#include "System/Platform/FileSystem.h"

namespace Profiler {

namespace {

/// The settings file holds nothing but this record, so it needs no registry of the capture's.
const RTTI::Registry& GetSettingsRegistry()
{
    static const RTTI::Registry* kRegistry = [] {
        auto* registry = new RTTI::Registry();
        registry->RegisterPrimitives();
        Serialization::RegisterSchemaTypes(*registry);
        registry->Register<SymbolLocationSettings>();
        return registry;
    }();
    return *kRegistry;
}

} // namespace

void SymbolLocationSettings::ApplyTo(SymbolSearchOptions& options) const
{
    options.LocalFolders.insert(options.LocalFolders.end(), mLocalFolders.begin(), mLocalFolders.end());
    for (const auto& [key, path] : mLocatedDebugFiles)
        options.LocatedDebugFiles.try_emplace(key, path);
}

std::unique_ptr<SymbolLocationSettings> LoadSymbolLocationSettings(const std::filesystem::path& path,
                                                                   Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, path.string());
    if (!System::Platform::FileExists(path)) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "Unable to open file");
        return nullptr;
    }
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!Serialization::ReadJsonFile(path, GetSettingsRegistry(), RTTI::GetDefaultObjectFactory(), roots,
                                     errors))
        return nullptr;
    for (std::unique_ptr<RTTI::Object>& root : roots)
        if (root && RTTI::IsA<SymbolLocationSettings>(root->GetType()))
            return std::unique_ptr<SymbolLocationSettings>(
                static_cast<SymbolLocationSettings*>(root.release()));
    errors.Add(Serialization::EErrorCode::Corrupt, "The file does not appear to be a SymbolLocationSettings "
                                                   "file (missing SymbolLocationSettings object)");
    return nullptr;
}

std::unique_ptr<SymbolLocationSettings>
LoadSymbolLocationSettingsOrDefaults(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    std::unique_ptr<SymbolLocationSettings> settings = LoadSymbolLocationSettings(path, errors);
    return settings ? std::move(settings) : std::make_unique<SymbolLocationSettings>();
}

std::shared_ptr<SymbolResolver> MakeUserSymbolResolver(const std::filesystem::path& path)
{
    Serialization::ErrorList errors;
    return std::make_shared<SymbolResolver>(
        LoadSymbolLocationSettingsOrDefaults(path, errors)->MakeOptions());
}

bool SaveSymbolLocationSettings(const std::filesystem::path& path, const SymbolLocationSettings& settings,
                                Serialization::ErrorList& errors)
{
    return Serialization::WriteJsonFile(path, {&settings}, errors);
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::SymbolLocationSettings, 1)
{
    type.Property("LocalFolders", &SymbolLocationSettings::mLocalFolders)
        .Property("LocatedDebugFiles", &SymbolLocationSettings::mLocatedDebugFiles);
}
