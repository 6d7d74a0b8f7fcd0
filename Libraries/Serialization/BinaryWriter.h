#pragma once

#include "RTTI/Object.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <vector>

namespace Serialization {

/// Appends a complete binary object image (header, schema block, data area) holding `roots` in
/// order to `out`. Every class written must be registered in a live registry.
bool WriteBinaryBuffer(const std::vector<const RTTI::Object*>& roots, std::vector<uint8_t>& out,
                       ErrorList& errors);

/// Writes the image to `path`. The file is replaced only once the new one is complete, so a
/// failed save keeps the previous file.
bool WriteBinaryFile(const std::filesystem::path& path, const std::vector<const RTTI::Object*>& roots,
                     ErrorList& errors);

} // namespace Serialization
