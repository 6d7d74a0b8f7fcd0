#pragma once

#include "Utility/Fnv1a.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Profiler {

/// A map from 64-bit addresses to small values in one array, probed linearly. The importer looks
/// up every frame of every stack in maps like this, where a node-based map costs an allocation
/// per entry and a cache miss per lookup. Iteration order is unspecified.
template <class Value> class AddressMap {
public:
    /// The value of `address`, inserting `value` when it is new; true when it was inserted.
    std::pair<Value*, bool> TryEmplace(uint64_t address, const Value& value)
    {
        if (address == kEmpty) {
            const bool inserted = !mHasEmptyKey;
            if (inserted) {
                mHasEmptyKey = true;
                mEmptyKeyValue = value;
            }
            return {&mEmptyKeyValue, inserted};
        }
        if (2 * (mCount + 1) > mSlots.size())
            Grow();
        const std::size_t mask = mSlots.size() - 1;
        for (std::size_t slot = Utility::MixBits64(address) & mask;; slot = (slot + 1) & mask) {
            Slot& entry = mSlots[slot];
            if (entry.address == address)
                return {&entry.value, false};
            if (entry.address == kEmpty) {
                entry.address = address;
                entry.value = value;
                ++mCount;
                return {&entry.value, true};
            }
        }
    }

    bool Insert(uint64_t address) { return TryEmplace(address, Value{}).second; }

    bool Empty() const { return mCount == 0 && !mHasEmptyKey; }

    /// Calls `visit(address, value)` for every entry.
    template <class Visit> void ForEach(Visit&& visit) const
    {
        if (mHasEmptyKey)
            visit(kEmpty, mEmptyKeyValue);
        for (const Slot& entry : mSlots)
            if (entry.address != kEmpty)
                visit(entry.address, entry.value);
    }

    /// The addresses, in no particular order.
    std::vector<uint64_t> Addresses() const
    {
        std::vector<uint64_t> addresses;
        addresses.reserve(mCount + (mHasEmptyKey ? 1 : 0));
        ForEach([&addresses](uint64_t address, const Value&) { addresses.push_back(address); });
        return addresses;
    }

private:
    static constexpr uint64_t kEmpty = 0; ///< marks a free slot; address 0 is kept beside the array
    static constexpr std::size_t kInitialSlots = 16;

    struct Slot {
        uint64_t address = kEmpty;
        Value value{};
    };

    void Grow()
    {
        std::vector<Slot> old(mSlots.empty() ? kInitialSlots : mSlots.size() * 2);
        old.swap(mSlots);
        const std::size_t mask = mSlots.size() - 1;
        for (const Slot& entry : old) {
            if (entry.address == kEmpty)
                continue;
            std::size_t slot = Utility::MixBits64(entry.address) & mask;
            while (mSlots[slot].address != kEmpty)
                slot = (slot + 1) & mask;
            mSlots[slot] = entry;
        }
    }

    std::vector<Slot> mSlots; ///< a power of two in size, at most half full
    std::size_t mCount = 0;   ///< entries in mSlots
    bool mHasEmptyKey = false;
    Value mEmptyKeyValue{};
};

} // namespace Profiler
