#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <vector>

namespace Profiler {

/// A hash map from functions (by their 30-bit identity) to small values, for the per-function
/// state that walks over millions of nodes keep (path flags, list item indices). Open addressing
/// with linear probing, hashed with FNV-1a; key and value share the slot so that a lookup touches
/// one cache line. There is no removal: walks keep an "on the path" flag in the value instead,
/// which also makes re-entering a function allocation free.
///
/// Callers hold a slot number across further insertions: it stays valid while GetGeneration() is
/// unchanged (only growing the table moves slots), and FindSlot finds it again otherwise.
template <class V> class FunctionMap {
public:
    static constexpr uint32_t kNoSlot = ~0u;

    explicit FunctionMap(uint32_t expectedCount = 64)
    {
        uint32_t capacity = 16;
        while (capacity * 7 < expectedCount * 10)
            capacity *= 2;
        mSlots.resize(capacity);
    }

    /// The slot of `function`, inserted with a value-initialised V when absent.
    uint32_t FindOrInsertSlot(const ResolvedAddress& function, bool& inserted)
    {
        const uint32_t identity = function.GetIdentityIndex();
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (uint32_t i = Hash(function.RelativeAddress, identity) & mask;; i = (i + 1) & mask) {
            Slot& slot = mSlots[i];
            if (!slot.used) {
                slot.address = function.RelativeAddress;
                slot.identity = identity;
                slot.used = true;
                inserted = true;
                // Grown at 70% load: short probes, and a table small enough to stay in cache.
                if (++mCount * 10 > mSlots.size() * 7) {
                    Grow();
                    return FindSlot(function);
                }
                return i;
            }
            if (slot.address == function.RelativeAddress && slot.identity == identity) {
                inserted = false;
                return i;
            }
        }
    }

    uint32_t FindSlot(const ResolvedAddress& function) const
    {
        const uint32_t identity = function.GetIdentityIndex();
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (uint32_t i = Hash(function.RelativeAddress, identity) & mask;; i = (i + 1) & mask) {
            const Slot& slot = mSlots[i];
            if (!slot.used)
                return kNoSlot;
            if (slot.address == function.RelativeAddress && slot.identity == identity)
                return i;
        }
    }

    V& operator[](uint32_t slot) { return mSlots[slot].value; }
    const V& operator[](uint32_t slot) const { return mSlots[slot].value; }

    V& FindOrInsert(const ResolvedAddress& function)
    {
        bool inserted = false;
        return mSlots[FindOrInsertSlot(function, inserted)].value;
    }

    uint32_t GetGeneration() const { return mGeneration; }
    uint32_t size() const { return mCount; }

private:
    struct Slot {
        uint64_t address = 0;
        uint32_t identity = 0; ///< identity bits of the ResolveIndex
        bool used = false;
        V value{};
    };

    static uint32_t Hash(uint64_t address, uint32_t identity)
    {
        const uint64_t hash = HashResolvedAddress({address, identity});
        return static_cast<uint32_t>(hash ^ (hash >> 32));
    }

    void Grow()
    {
        std::vector<Slot> old(mSlots.size() * 2);
        old.swap(mSlots);
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (Slot& slot : old) {
            if (!slot.used)
                continue;
            uint32_t i = Hash(slot.address, slot.identity) & mask;
            while (mSlots[i].used)
                i = (i + 1) & mask;
            mSlots[i] = std::move(slot);
        }
        ++mGeneration;
    }

    std::vector<Slot> mSlots;
    uint32_t mCount = 0;
    uint32_t mGeneration = 0;
};

} // namespace Profiler
