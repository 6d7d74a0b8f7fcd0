#pragma once

#include <cstdint>

namespace Serialization {

/// Bytes 5D C2 50 F4 at the start of every binary object file and buffer.
inline constexpr uint32_t kBinaryMagic = 0xF450C25Du;
/// The version writers produce. 3 and 4 share the current layout; 1 (CRC-64) and 2 (XXH64) are
/// the legacy layout with one trailing checksum, read from files only.
inline constexpr uint32_t kBinaryVersion = 4;
inline constexpr uint32_t kOldestBinaryVersion = 1;
inline constexpr uint32_t kFirstCurrentLayoutVersion = 3;
inline constexpr std::size_t kBinaryHeaderSize = 8;

} // namespace Serialization
