#include "ZivuDeverUdovIradir/SettingsFile.h"

#include "Serialization/Json.h"
#include "System/Log.h"
#include "System/Platform/FileSystem.h"

#include <string>
#include <vector>

namespace Profiler::SettingsFile {
namespace {

/// The class name without its namespace, as the messages name the records.
std::string ShortClassName(const RTTI::Type& type)
{
    const std::string& name = type.GetName();
    const std::size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

} // namespace

std::unique_ptr<RTTI::Object> Load(const char* fileName, const RTTI::CompoundType& type,
                                   const RTTI::Registry& registry, Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, fileName);
    if (!System::Platform::FileExists(fileName)) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "Unable to open file");
        return nullptr;
    }
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!Serialization::ReadJsonFile(fileName, registry, RTTI::GetDefaultObjectFactory(), roots, errors))
        return nullptr;
    for (std::unique_ptr<RTTI::Object>& root : roots)
        if (root && RTTI::IsA(root->GetType(), type))
            return std::move(root);
    const std::string shortName = ShortClassName(type);
    errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                        "The file does not appear to be a %s file (missing %s object)", shortName.c_str(),
                        shortName.c_str());
    return nullptr;
}

void Save(const char* fileName, const RTTI::Object& object)
{
    Serialization::ErrorList errors;
    if (Serialization::WriteJsonFile(fileName, {&object}, errors))
        return;
    System::Log("Failed to save %s: %s", ShortClassName(object.GetType()).c_str(),
                errors.IsEmpty() ? "" : errors.GetErrors().front().message.c_str());
}

} // namespace Profiler::SettingsFile
