#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Utility {

/// CRC-64 with the reflected polynomial 0x95AC9329AC4BC9B5 (reflected in and out, no final XOR).
/// `initial` lets a checksum continue from an earlier one, which the type registry uses to chain
/// class versions along an inheritance line.
uint64_t Crc64(const void* data, std::size_t size, uint64_t initial = 0);

inline uint64_t Crc64(std::string_view text, uint64_t initial = 0)
{
    return Crc64(text.data(), text.size(), initial);
}

} // namespace Utility
