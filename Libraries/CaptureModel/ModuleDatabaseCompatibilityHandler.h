#pragma once

#include "Serialization/CompatibilityHandler.h"

namespace Profiler {

/// Loads module databases of version 1, whose modules were one "Modules" array of native
/// modules; they become the "NativeModules".
class ModuleDatabaseCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
};

} // namespace Profiler
