#include "CaptureModel/ModuleDatabaseCompatibilityHandler.h"

#include "CaptureModel/ModuleDatabase.h"
#include "Serialization/BinaryReader.h"

namespace Profiler {

bool ModuleDatabaseCompatibilityHandler::ReadRemovedProperty(
    Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor, void* object,
    const Serialization::CompoundSchema& storedClass, const Serialization::PropertySchema& storedProperty,
    Serialization::ErrorList& errors)
{
    if (storedClass.mVersion != 1 || storedProperty.mName != "Modules")
        return true;
    std::vector<std::unique_ptr<Module>> modules;
    if (!reader.ReadPropertyValue(cursor, storedProperty, modules, errors))
        return false;
    auto& database = *static_cast<ModuleDatabase*>(object);
    for (auto& module : modules) {
        if (!module)
            continue;
        if (!RTTI::IsA<NativeModule>(module->GetType())) {
            errors.Add(Serialization::EErrorCode::Compatibility,
                       "Encountered a non-NativeModule during upgrade of V1 ModuleDatabase.");
            return false;
        }
        database.mNativeModules.emplace_back(static_cast<NativeModule*>(module.release()));
    }
    return true;
}

} // namespace Profiler
