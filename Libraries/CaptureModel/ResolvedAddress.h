#pragma once

#include "RTTI/Reflection.h"
#include "Utility/Fnv1a.h"

#include <cstddef>
#include <cstdint>

namespace Profiler {

/// The identity of a function: an address relative to its module and a packed index naming the
/// module and the kind of entry. Bits 0-24 of ResolveIndex hold the module index, bit 25 marks
/// an instrumentation zone, bits 26-29 the kind; bits 30 and 31 are flags outside the identity.
struct ResolvedAddress {
    QX_RTTI_STRUCT(ResolvedAddress);

    static constexpr uint32_t kIdentityMask = 0x3FFFFFFFu;
    static constexpr uint32_t kModuleIndexMask = 0x01FFFFFFu;
    static constexpr uint32_t kInstrumentationFlag = 1u << 25;
    static constexpr uint32_t kKindShift = 26;
    static constexpr uint32_t kKindMask = 0xFu;

    static constexpr uint32_t kKindNative = 0;
    static constexpr uint32_t kKindJit = 1;
    static constexpr uint32_t kKindNoCode = 2;
    static constexpr uint32_t kKindPseudo = 3;

    /// The RelativeAddress of the "[Unrooted Stacks]" pseudo-function (all ones but one).
    static constexpr uint64_t kUnrootedStacksAddress = ~uint64_t{1};

    uint64_t RelativeAddress = 0;
    uint32_t ResolveIndex = 0;

    static constexpr ResolvedAddress Make(uint64_t relativeAddress, uint32_t kind, uint32_t moduleIndex,
                                          bool instrumentationZone = false)
    {
        return {relativeAddress, ((kind & kKindMask) << kKindShift) | (moduleIndex & kModuleIndexMask) |
                                     (instrumentationZone ? kInstrumentationFlag : 0u)};
    }

    /// The key under which stacks that did not reach the thread's base function are collected.
    static constexpr ResolvedAddress UnrootedStacks() { return Make(kUnrootedStacksAddress, kKindPseudo, 0); }

    constexpr uint32_t GetIdentityIndex() const { return ResolveIndex & kIdentityMask; }
    constexpr uint32_t GetKind() const { return (ResolveIndex >> kKindShift) & kKindMask; }
    constexpr uint32_t GetModuleIndex() const { return ResolveIndex & kModuleIndexMask; }
    constexpr bool HasInstrumentationFlag() const { return (ResolveIndex & kInstrumentationFlag) != 0; }

    /// A bar opened by an instrumentation begin event; pseudo entries never count as zones.
    constexpr bool IsInstrumentationZone() const
    {
        return HasInstrumentationFlag() && GetKind() != kKindPseudo;
    }

    constexpr bool IsUnrootedStacks() const
    {
        return GetKind() == kKindPseudo && RelativeAddress == kUnrootedStacksAddress;
    }

    /// Equal when the addresses and the low 30 bits of the indices are equal.
    friend constexpr bool operator==(const ResolvedAddress& a, const ResolvedAddress& b)
    {
        return a.RelativeAddress == b.RelativeAddress && a.GetIdentityIndex() == b.GetIdentityIndex();
    }
};

/// How ResolvedAddress::ResolveIndex is stored: a record with the one property "Index". In memory
/// the index stays a plain uint32_t; this record only describes the stored shape.
struct ResolveIndexRecord {
    QX_RTTI_STRUCT(ResolveIndexRecord);
    uint32_t Index = 0;
};

/// 64-bit FNV-1a over the identity bits of ResolveIndex, then the eight bytes of RelativeAddress,
/// each least significant byte first.
constexpr uint64_t HashResolvedAddress(const ResolvedAddress& address)
{
    return Utility::Fnv1aValue(address.RelativeAddress, Utility::Fnv1aValue(address.GetIdentityIndex()));
}

struct ResolvedAddressHash {
    std::size_t operator()(const ResolvedAddress& address) const noexcept
    {
        return static_cast<std::size_t>(HashResolvedAddress(address));
    }
};

} // namespace Profiler
