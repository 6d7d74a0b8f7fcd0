#include "Serialization/Binary.h"

namespace Serialization {

bool ReadBinaryFile(const std::filesystem::path& path, const RTTI::Registry& registry,
                    const RTTI::ObjectFactory& factory, const CompatibilityHandlerMap& handlers,
                    EReadMode mode, std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors)
{
    BinaryFileReader reader(mode, registry, factory, handlers);
    return reader.Open(path, errors) && reader.ReadAll(outObjects, errors);
}

bool ReadBinaryBuffer(std::span<const uint8_t> buffer, const RTTI::Registry& registry,
                      const RTTI::ObjectFactory& factory, const CompatibilityHandlerMap& handlers,
                      EReadMode mode, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                      ErrorList& errors)
{
    BinaryMemoryStreamReader reader(mode, registry, factory, handlers);
    return reader.Open(buffer, errors) && reader.ReadAll(outObjects, errors);
}

} // namespace Serialization
