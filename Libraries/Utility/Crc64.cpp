#include "Utility/Crc64.h"

#include <array>

namespace Utility {
namespace {

constexpr uint64_t kReflectedPolynomial = 0x95AC9329AC4BC9B5ull;

constexpr std::array<uint64_t, 256> MakeTable()
{
    std::array<uint64_t, 256> table{};
    for (uint64_t i = 0; i < 256; ++i) {
        uint64_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint64_t, 256> kTable = MakeTable();

} // namespace

uint64_t Crc64(const void* data, std::size_t size, uint64_t initial)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint64_t crc = initial;
    for (std::size_t i = 0; i < size; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace Utility
