#pragma once

#include "RTTI/Object.h"
#include "RTTI/Registry.h"
#include "Utility/ErrorList.h"

#include <memory>

// Loading and saving of the plugin's settings records, each the only root object of a JSON
// object file in the current directory.

namespace Profiler::SettingsFile {

/// The first root object of `fileName` that is a `type` (or derived from it); the others are
/// discarded. Null with one error when the file is missing (code 1, "Unable to open file"),
/// cannot be read, or holds no such object (code 6). The file name is the error context.
std::unique_ptr<RTTI::Object> Load(const char* fileName, const RTTI::CompoundType& type,
                                   const RTTI::Registry& registry, Serialization::ErrorList& errors);

/// Writes `object` as the only root object of `fileName`, replacing the file only once the new
/// text is complete. A failure is logged as "Failed to save <class>: <first error>".
void Save(const char* fileName, const RTTI::Object& object);

} // namespace Profiler::SettingsFile
