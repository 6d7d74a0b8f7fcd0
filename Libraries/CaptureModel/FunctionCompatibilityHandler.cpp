#include "CaptureModel/FunctionCompatibilityHandler.h"

#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/Session.h"
#include "Serialization/BinaryReader.h"

#include <functional>

namespace Profiler {

namespace {

constexpr const char* kResolvedFunction = "Profiler::ResolvedFunction";
constexpr const char* kJITResolvedFunction = "Profiler::JITResolvedFunction";

} // namespace

bool FunctionCompatibilityHandler::ReadRemovedProperty(Serialization::BinaryReader& reader,
                                                       Serialization::BufferCursor& cursor, void* object,
                                                       const Serialization::CompoundSchema& storedClass,
                                                       const Serialization::PropertySchema& storedProperty,
                                                       Serialization::ErrorList& errors)
{
    auto& function = *static_cast<Function*>(object);
    const std::string& name = storedProperty.mName;
    if (storedClass.mName == kResolvedFunction) {
        if (name == "Address")
            return reader.ReadPropertyValue(cursor, storedProperty, function.mRelativeAddress, errors);
        return true;
    }
    if (storedClass.mName != kJITResolvedFunction)
        return true;
    JITFunctionInstance& placement = mPending[&function];
    if (name == "Address")
        return reader.ReadPropertyValue(cursor, storedProperty, placement.mAbsoluteAddress, errors);
    if (name == "ProcessID")
        return reader.ReadPropertyValue(cursor, storedProperty, placement.mProcessID, errors);
    if (name == "ModuleID")
        return reader.ReadPropertyValue(cursor, storedProperty, placement.mModuleID, errors);
    if (name == "LoadTime")
        return reader.ReadPropertyValue(cursor, storedProperty, placement.mLoadTime, errors);
    if (name == "UnloadTime")
        return reader.ReadPropertyValue(cursor, storedProperty, placement.mUnloadTime, errors);
    return true;
}

bool FunctionCompatibilityHandler::FinishObject(void* object,
                                                const Serialization::CompoundSchema& storedClass,
                                                Serialization::ErrorList&)
{
    if (storedClass.mName != kJITResolvedFunction)
        return true;
    auto& function = *static_cast<Function*>(object);
    function.mRelativeAddress = 0;
    auto it = mPending.find(&function);
    mPlacements[&function] = it != mPending.end() ? it->second : JITFunctionInstance{};
    if (it != mPending.end())
        mPending.erase(it);
    return true;
}

bool FunctionCompatibilityHandler::FinishRootObject(RTTI::Object& rootObject, Serialization::ErrorList&)
{
    if (auto* session = dynamic_cast<Session*>(&rootObject))
        AddJITPlacements(session->GetModuleDatabase());
    mPlacements.clear();
    mPending.clear();
    return true;
}

void FunctionCompatibilityHandler::AddJITPlacements(ModuleDatabase& modules)
{
    const auto& functions = modules.GetJITFunctions();
    for (const auto& [function, placement] : mPlacements) {
        const std::less<const Function*> before;
        if (functions.empty() || before(function, functions.data()) ||
            !before(function, functions.data() + functions.size()))
            continue;
        const auto index = static_cast<uint32_t>(function - functions.data());
        bool placed = false;
        for (const JITFunctionInstance& instance : modules.GetJITFunctionInstances())
            placed = placed || instance.mJITFunctionIndex == index;
        if (placed)
            continue;
        JITFunctionInstance instance = placement;
        instance.mJITFunctionIndex = index;
        modules.AddJITFunctionInstance(instance);
    }
}

} // namespace Profiler
