#pragma once

#include "CallGraphModel/NodeArena.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace Profiler {

/// A growable array of trivially copyable elements whose storage comes from a NodeArena: a
/// pointer and two 32-bit counts, so a node carries two of them in 32 bytes. The arena is passed
/// to every operation that may allocate; the array does not know it.
template <class T> class NodeArray {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert((sizeof(T) & (sizeof(T) - 1)) == 0, "element sizes are powers of two");

public:
    T* begin() { return mData; }
    T* end() { return mData + mSize; }
    const T* begin() const { return mData; }
    const T* end() const { return mData + mSize; }
    T* data() { return mData; }
    const T* data() const { return mData; }
    uint32_t size() const { return mSize; }
    bool empty() const { return mSize == 0; }
    uint32_t capacity() const { return mCapacity; }
    T& operator[](uint32_t index) { return mData[index]; }
    const T& operator[](uint32_t index) const { return mData[index]; }
    T& back() { return mData[mSize - 1]; }
    std::span<const T> Span() const { return {mData, mSize}; }

    void PushBack(NodeArena& arena, const T& value)
    {
        if (mSize == mCapacity)
            Grow(arena, mSize + 1);
        mData[mSize++] = value;
    }

    /// Inserts before `index`, moving the tail up by one.
    void Insert(NodeArena& arena, uint32_t index, const T& value)
    {
        if (mSize == mCapacity)
            Grow(arena, mSize + 1);
        std::memmove(mData + index + 1, mData + index, (mSize - index) * sizeof(T));
        mData[index] = value;
        ++mSize;
    }

    void Erase(uint32_t index)
    {
        std::memmove(mData + index, mData + index + 1, (mSize - index - 1) * sizeof(T));
        --mSize;
    }

    /// Makes room for `count` elements without changing the size.
    void Reserve(NodeArena& arena, uint32_t count)
    {
        if (count > mCapacity)
            Grow(arena, count);
    }

    /// Sets the size to `count` (at most the capacity); new elements are uninitialised.
    void SetSize(uint32_t count) { mSize = count; }

    void Assign(NodeArena& arena, std::span<const T> values)
    {
        mSize = 0;
        Reserve(arena, static_cast<uint32_t>(values.size()));
        if (!values.empty())
            std::memcpy(mData, values.data(), values.size() * sizeof(T));
        mSize = static_cast<uint32_t>(values.size());
    }

    void Clear() { mSize = 0; }

    /// Returns the storage to the arena's free lists; the array is then empty.
    void Release(NodeArena& arena)
    {
        if (mData != nullptr)
            arena.ReleaseArray(mData, std::size_t{mCapacity} * sizeof(T));
        mData = nullptr;
        mSize = 0;
        mCapacity = 0;
    }

private:
    void Grow(NodeArena& arena, uint32_t needed)
    {
        uint32_t capacity = mCapacity == 0 ? 1 : mCapacity * 2;
        while (capacity < needed)
            capacity *= 2;
        // The smallest arena array is 8 bytes.
        if (capacity * sizeof(T) < 8)
            capacity = static_cast<uint32_t>(8 / sizeof(T));
        T* data = static_cast<T*>(arena.AllocateArray(std::size_t{capacity} * sizeof(T)));
        if (mSize != 0)
            std::memcpy(data, mData, mSize * sizeof(T));
        if (mData != nullptr)
            arena.ReleaseArray(mData, std::size_t{mCapacity} * sizeof(T));
        mData = data;
        mCapacity = capacity;
    }

    T* mData = nullptr;
    uint32_t mSize = 0;
    uint32_t mCapacity = 0;
};

} // namespace Profiler
