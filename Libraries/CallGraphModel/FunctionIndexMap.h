#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <vector>

namespace Profiler {

/// Maps functions (by their 30-bit identity) to dense indices 0, 1, 2... in insertion order, so
/// callers keep their values in plain vectors whose elements never move on a rehash. Open
/// addressing with linear probing, hashed with FNV-1a; there is no removal: path maps keep an
/// "on the path" flag per index instead, which also makes re-entering a function allocation free.
class FunctionIndexMap {
public:
    static constexpr uint32_t kNotFound = ~0u;

    explicit FunctionIndexMap(uint32_t expectedCount = 64)
    {
        uint32_t capacity = 16;
        while (capacity < expectedCount * 2)
            capacity *= 2;
        mSlots.assign(capacity, 0);
    }

    struct InsertResult {
        uint32_t index;
        bool inserted;
    };

    InsertResult FindOrInsert(const ResolvedAddress& function)
    {
        const Key key{function.RelativeAddress, function.GetIdentityIndex()};
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (uint32_t slot = Hash(key) & mask;; slot = (slot + 1) & mask) {
            const uint32_t entry = mSlots[slot];
            if (entry == 0) {
                const auto index = static_cast<uint32_t>(mKeys.size());
                mKeys.push_back(key);
                mSlots[slot] = index + 1;
                if (mKeys.size() * 2 > mSlots.size())
                    Grow();
                return {index, true};
            }
            if (mKeys[entry - 1] == key)
                return {entry - 1, false};
        }
    }

    uint32_t Find(const ResolvedAddress& function) const
    {
        const Key key{function.RelativeAddress, function.GetIdentityIndex()};
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (uint32_t slot = Hash(key) & mask;; slot = (slot + 1) & mask) {
            const uint32_t entry = mSlots[slot];
            if (entry == 0)
                return kNotFound;
            if (mKeys[entry - 1] == key)
                return entry - 1;
        }
    }

    uint32_t size() const { return static_cast<uint32_t>(mKeys.size()); }

private:
    struct Key {
        uint64_t address;
        uint32_t index; ///< identity bits only
        bool operator==(const Key&) const = default;
    };

    static uint32_t Hash(const Key& key)
    {
        const uint64_t hash = HashResolvedAddress({key.address, key.index});
        return static_cast<uint32_t>(hash ^ (hash >> 32));
    }

    void Grow()
    {
        mSlots.assign(mSlots.size() * 2, 0);
        const uint32_t mask = static_cast<uint32_t>(mSlots.size() - 1);
        for (uint32_t index = 0; index < mKeys.size(); ++index) {
            uint32_t slot = Hash(mKeys[index]) & mask;
            while (mSlots[slot] != 0)
                slot = (slot + 1) & mask;
            mSlots[slot] = index + 1;
        }
    }

    std::vector<uint32_t> mSlots; ///< index + 1, 0 for empty
    std::vector<Key> mKeys;
};

} // namespace Profiler
