#pragma once

#include "Serialization/Binary.h"
#include "Support/ErrorAssertions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace TestSupport {

struct ReadResult {
    bool ok = false;
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    Serialization::ErrorList errors;
};

/// ReadBinaryBuffer with the default factory.
ReadResult ReadImage(const std::vector<uint8_t>& image, const RTTI::Registry& registry,
                     Serialization::EReadMode mode = Serialization::EReadMode::SkipUnknownTypes,
                     const Serialization::CompatibilityHandlerMap& handlers = {});
/// WriteBinaryBuffer that fails the test on error.
std::vector<uint8_t> WriteImage(const std::vector<const RTTI::Object*>& roots);

/// Where the parts of a current-layout image lie.
struct ImageLayout {
    std::size_t blockStart = 0; ///< after the header and the block size
    std::size_t blockSize = 0;
    std::size_t dataStart = 0;
    std::string schemaText;
};
ImageLayout ParseLayout(const std::vector<uint8_t>& image);

/// The same content in the legacy layout: header, schema text, roots, trailing CRC-64 (version
/// 1) or XXH64 (version 2).
std::vector<uint8_t> MakeLegacyImage(const std::vector<uint8_t>& image, uint32_t version);

std::string ToText(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ToBytes(const std::string& text);

} // namespace TestSupport

namespace Sample {
class Capture;
}

namespace TestSupport {

/// Compares every stored field of two sample captures (unordered containers by content).
void ExpectSameCapture(const Sample::Capture& expected, const Sample::Capture& actual);

/// Recomputes the object checksums and the schema block checksum of a current-layout image
/// after a test patched it, so that the patched values reach the decoder.
void Reseal(std::vector<uint8_t>& image);

/// Writes an integer into the image at `offset`.
template <class T> void Patch(std::vector<uint8_t>& image, std::size_t offset, T value)
{
    std::memcpy(image.data() + offset, &value, sizeof(value));
}

} // namespace TestSupport
