#pragma once

#include "CaptureModel/Function.h"
#include "Serialization/CompatibilityHandler.h"

#include <unordered_map>

namespace Profiler {

class ModuleDatabase;

/// Loads functions stored under their former class names. A "Profiler::ResolvedFunction" kept
/// its relative address as "Address". A "Profiler::JITResolvedFunction" carried its placement
/// itself ("Address", "ProcessID", "ModuleID", "LoadTime", "UnloadTime"); its relative address
/// becomes 0 and, when the root is a session whose JIT functions hold it, the placement becomes
/// one of the session's JIT function instances.
class FunctionCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
    bool FinishObject(void* object, const Serialization::CompoundSchema& storedClass,
                      Serialization::ErrorList& errors) override;
    bool FinishRootObject(RTTI::Object& rootObject, Serialization::ErrorList& errors) override;

    /// Adds an instance for every kept placement whose function lies in `modules`' JIT
    /// functions and has no instance yet.
    void AddJITPlacements(ModuleDatabase& modules);

private:
    /// The kept placement of one old JIT function, by its object.
    std::unordered_map<const Function*, JITFunctionInstance> mPlacements;
    std::unordered_map<const Function*, JITFunctionInstance> mPending; ///< being read
};

} // namespace Profiler
