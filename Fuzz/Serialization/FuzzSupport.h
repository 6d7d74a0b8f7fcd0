#pragma once

#include "SampleTypes.h"

#include "Serialization/Binary.h"

#include <cstdlib>
#include <cstring>
#include <xxhash.h>

namespace Fuzz {

/// The registry of sample classes, built once for the whole run.
inline const RTTI::Registry& GetRegistry()
{
    static const RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry();
        Sample::RegisterSampleTypes(*made);
        return made;
    }();
    return *registry;
}

/// Handlers that accept other versions of two classes and read what removed properties held,
/// so that the handler paths are explored too.
class LenientHandler : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor, void*,
                             const Serialization::CompoundSchema&,
                             const Serialization::PropertySchema& stored,
                             Serialization::ErrorList& errors) override
    {
        std::string text;
        std::vector<uint64_t> numbers;
        if (stored.mType.mTypeName == "std::string")
            return reader.ReadPropertyValue(cursor, stored, text, errors);
        if (stored.mType.mTypeName == "Array_uint64_t")
            return reader.ReadPropertyValue(cursor, stored, numbers, errors);
        return true;
    }
};

inline const Serialization::CompatibilityHandlerMap& GetHandlers()
{
    static LenientHandler handler;
    static const Serialization::CompatibilityHandlerMap* handlers = [] {
        auto* made = new Serialization::CompatibilityHandlerMap();
        made->Add<Sample::Capture>(handler);
        made->Add<Sample::NativeModule>(handler);
        return made;
    }();
    return *handlers;
}

/// Anything read must be writable, and what is written must read back.
inline void CheckRoundTrip(const std::vector<std::unique_ptr<RTTI::Object>>& objects)
{
    std::vector<const RTTI::Object*> roots;
    for (const auto& object : objects)
        roots.push_back(object.get());
    std::vector<uint8_t> image;
    Serialization::ErrorList errors;
    if (!Serialization::WriteBinaryBuffer(roots, image, errors))
        std::abort();
    std::vector<std::unique_ptr<RTTI::Object>> again;
    if (!Serialization::ReadBinaryBuffer(image, GetRegistry(), RTTI::GetDefaultObjectFactory(), GetHandlers(),
                                         Serialization::EReadMode::Strict, again, errors) ||
        again.size() != objects.size())
        std::abort();
}

/// Repairs the schema block checksum and every object checksum of a current-layout image, as
/// far as its structure can be followed, so that mutations reach the decoder instead of
/// failing a 64-bit checksum. Works on a copy; stops at the first inconsistency.
inline std::vector<uint8_t> Reseal(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> image(data, data + size);
    auto read64 = [&](uint64_t offset, uint64_t& value) {
        if (offset > image.size() || image.size() - offset < 8)
            return false;
        std::memcpy(&value, image.data() + offset, 8);
        return true;
    };
    uint64_t blockSize = 0;
    if (!read64(8, blockSize) || blockSize < 8 || blockSize > image.size() - 16)
        return image;
    const uint64_t blockStart = 16;
    const uint64_t blockEnd = blockStart + blockSize - 8; // where the block checksum lies
    const uint64_t dataStart = blockStart + blockSize;
    uint64_t position = blockStart;
    // Reads a length-prefixed field at the position and steps over it; refuses anything that
    // would run past the block, so the position only ever moves forward inside it.
    auto skipField = [&](uint64_t& length) {
        if (position > blockEnd || blockEnd - position < 8 || !read64(position, length) ||
            length > blockEnd - position - 8)
            return false;
        position += 8 + length;
        return true;
    };
    uint64_t textLength = 0;
    uint64_t entries = 0;
    if (skipField(textLength) && blockEnd - position >= 8 && read64(position, entries)) {
        position += 8;
        for (uint64_t i = 0; i < entries && position < blockEnd; ++i) {
            uint64_t nameLength = 0, offset = 0, recordSize = 0, chunks = 0;
            if (!skipField(nameLength) || blockEnd - position < 24 || !read64(position, offset) ||
                !read64(position + 8, recordSize) || !read64(position + 16, chunks))
                break;
            position += 24;
            for (uint64_t c = 0; c < chunks && blockEnd - position >= 24; ++c, position += 24) {
                uint64_t chunkOffset = 0, chunkSize = 0;
                read64(position, chunkOffset);
                read64(position + 8, chunkSize);
                const uint64_t available = image.size() - dataStart;
                if (offset > available || chunkOffset > available - offset ||
                    chunkSize > available - offset - chunkOffset)
                    continue;
                const uint64_t checksum = XXH64(image.data() + dataStart + offset + chunkOffset, chunkSize, 0);
                std::memcpy(image.data() + position + 16, &checksum, 8);
            }
        }
    }
    const uint64_t checksum = XXH64(image.data() + blockStart, blockEnd - blockStart, 0);
    std::memcpy(image.data() + blockEnd, &checksum, 8);
    return image;
}

} // namespace Fuzz
