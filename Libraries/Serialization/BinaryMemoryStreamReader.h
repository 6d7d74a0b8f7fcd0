#pragma once

#include "Serialization/BinaryReader.h"

namespace Serialization {

/// Reads a binary object image from a caller-owned buffer, which must outlive the reader.
/// Buffers are always read in the current layout.
class BinaryMemoryStreamReader final : public BinaryReader {
public:
    BinaryMemoryStreamReader(EReadMode mode, const RTTI::Registry& registry,
                             const RTTI::ObjectFactory& factory, const CompatibilityHandlerMap& handlers)
        : BinaryReader(mode, registry, factory, handlers)
    {}

    /// Checks the header and the schema block and parses the schema.
    bool Open(std::span<const uint8_t> buffer, ErrorList& errors);
    /// Verifies every object, then reads all roots in order; nothing is appended on failure.
    bool ReadAll(std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors);
    /// The first root whose table entry names `type` or a class derived from it; null when
    /// there is none, when its class is skipped, or on failure.
    std::unique_ptr<RTTI::Object> ReadObject(const RTTI::CompoundType& type, ErrorList& errors);
    template <class T> std::unique_ptr<T> ReadObject(ErrorList& errors)
    {
        return std::unique_ptr<T>(static_cast<T*>(ReadObject(T::StaticType(), errors).release()));
    }

private:
    std::span<const uint8_t> mBuffer; // not owned
    bool mOpen = false;
};

} // namespace Serialization
