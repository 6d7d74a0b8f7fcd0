#pragma once

#include "RTTI/Object.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// JSON object files: a document {"Objects": [...]} with one JSON object per root object, each
// starting with its "Type"; values follow the reflected types. Used for settings files and for
// the schema text inside binary object files.

namespace Serialization {

/// Writes the roots as a pretty-printed document (4-space indentation, no final line end).
bool WriteJson(const std::vector<const RTTI::Object*>& roots, std::string& outText, ErrorList& errors);
/// Writes the document and a final line end; the file is replaced only once fully written.
bool WriteJsonFile(const std::filesystem::path& path, const std::vector<const RTTI::Object*>& roots,
                   ErrorList& errors);

/// Reads a document in the "Objects" form or whose root is one root object, appending the roots
/// to `outObjects` on success. Classes are instantiated through `factory`.
bool ReadJson(std::string_view text, const RTTI::Registry& registry, const RTTI::ObjectFactory& factory,
              std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors);
/// Reads the whole file, then the document; the path is the error context meanwhile.
bool ReadJsonFile(const std::filesystem::path& path, const RTTI::Registry& registry,
                  const RTTI::ObjectFactory& factory, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                  ErrorList& errors);

} // namespace Serialization
