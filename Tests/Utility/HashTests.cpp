#include "Utility/Crc64.h"
#include "Utility/Fnv1a.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Bitwise CRC written straight from the definition (reflected, polynomial 0xAD93D23594C935A9),
// to check the table-driven one against something independent.
uint64_t BitwiseCrc64(const std::string& text, uint64_t crc)
{
    const uint64_t normal = 0xAD93D23594C935A9ull;
    uint64_t reflected = 0;
    for (int i = 0; i < 64; ++i)
        if (normal & (1ull << i))
            reflected |= 1ull << (63 - i);
    for (unsigned char byte : text) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ reflected : crc >> 1;
    }
    return crc;
}

TEST(Crc64, MatchesCheckValueAndBitwiseDefinition)
{
    EXPECT_EQ(Utility::Crc64(std::string_view("123456789")), 0xE9C6D914C4B8D9CAull);
    EXPECT_EQ(Utility::Crc64(std::string_view("")), 0u);
    for (const std::string text : {"a", "ZivuDeverUdovIradir", "The quick brown fox jumps over the lazy dog"})
        EXPECT_EQ(Utility::Crc64(text), BitwiseCrc64(text, 0)) << text;
    // Checksumming in two pieces equals checksumming the whole.
    const uint64_t first = Utility::Crc64(std::string_view("12345"));
    EXPECT_EQ(Utility::Crc64(std::string_view("6789"), first), 0xE9C6D914C4B8D9CAull);
    EXPECT_EQ(Utility::Crc64(std::string_view("6789"), 0x1234), BitwiseCrc64("6789", 0x1234));
}

TEST(Fnv1a, KnownVectorsAndIntegerBytes)
{
    const auto bytes = [](const char* s) {
        return Utility::Fnv1a(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
    };
    EXPECT_EQ(bytes(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(bytes("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(bytes("foobar"), 0x85944171f73967e8ull);
    // Integers are hashed least significant byte first.
    const uint8_t littleEndian[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(Utility::Fnv1aValue(uint32_t{0x12345678}), Utility::Fnv1a(littleEndian, 4));
    // Width matters: a 64-bit key hashes eight bytes.
    EXPECT_NE(Utility::Fnv1aValue(uint64_t{0x12345678}), Utility::Fnv1aValue(uint32_t{0x12345678}));
    // Signed values hash their two's complement bytes.
    EXPECT_EQ(Utility::Fnv1aValue(int32_t{-1}), Utility::Fnv1aValue(uint32_t{0xFFFFFFFF}));
    // Chaining continues a running hash.
    const uint8_t both[6] = {0x02, 0x01, 0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(Utility::Fnv1aValue(uint32_t{0xDDCCBBAA}, Utility::Fnv1aValue(uint16_t{0x0102})),
              Utility::Fnv1a(both, 6));
}

} // namespace
