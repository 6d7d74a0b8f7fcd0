#pragma once

// Binary object files and buffers: a sequence of root objects (RTTI::Object) with a schema of
// every type they use, so that files written by older shapes of the classes keep loading.

#include "Serialization/BinaryFileReader.h"
#include "Serialization/BinaryMemoryStreamReader.h"
#include "Serialization/BinaryWriter.h"

namespace Serialization {

/// Opens the file, reads every root and appends them to `outObjects` (nothing on failure).
bool ReadBinaryFile(const std::filesystem::path& path, const RTTI::Registry& registry,
                    const RTTI::ObjectFactory& factory, const CompatibilityHandlerMap& handlers,
                    EReadMode mode, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                    ErrorList& errors);

/// The same over an image in memory.
bool ReadBinaryBuffer(std::span<const uint8_t> buffer, const RTTI::Registry& registry,
                      const RTTI::ObjectFactory& factory, const CompatibilityHandlerMap& handlers,
                      EReadMode mode, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                      ErrorList& errors);

} // namespace Serialization
