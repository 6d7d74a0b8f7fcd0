#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Utility {

inline constexpr uint64_t kFnv1aOffsetBasis = 0xcbf29ce484222325ull;
inline constexpr uint64_t kFnv1aPrime = 0x100000001b3ull;

/// 64-bit FNV-1a over raw bytes, continuing from `hash`.
constexpr uint64_t Fnv1a(const uint8_t* bytes, std::size_t size, uint64_t hash = kFnv1aOffsetBasis)
{
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= kFnv1aPrime;
    }
    return hash;
}

/// Feeds an integer's bytes least significant first, whatever the host's byte order, so hashes
/// of identifiers are stable across machines.
template <class T>
requires std::is_integral_v<T> || std::is_enum_v<T>
constexpr uint64_t Fnv1aValue(T value, uint64_t hash = kFnv1aOffsetBasis)
{
    using Integer =
        typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;
    const auto bits = static_cast<std::make_unsigned_t<Integer>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        hash ^= static_cast<uint8_t>(bits >> (8 * i));
        hash *= kFnv1aPrime;
    }
    return hash;
}

/// Spreads every bit of a 64-bit key over the whole word (the finaliser of MurmurHash3). For open
/// addressing on keys that differ in few bits, such as sequential ids or aligned pointers, where
/// FNV-1a leaves the low bits too alike.
constexpr uint64_t MixBits64(uint64_t value)
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdull;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ull;
    return value ^ (value >> 33);
}

/// Hasher for unordered containers keyed by integers (thread ids, addresses, stack ids).
struct Fnv1aHash {
    template <class T> std::size_t operator()(T value) const noexcept
    {
        return static_cast<std::size_t>(Fnv1aValue(value));
    }
};

} // namespace Utility
