#include "System/LogBuffer.h"

#include <algorithm>
#include <cstring>

namespace System {

void LogBuffer::EnsureSize(std::size_t size)
{
    if (size <= mSize)
        return;
    if (size > mCapacity) {
        const std::size_t capacity = std::max(size, mCapacity + mCapacity / 2);
        auto data = std::make_unique_for_overwrite<char[]>(capacity);
        if (mSize > 0)
            std::memcpy(data.get(), mData.get(), mSize);
        mData = std::move(data);
        mCapacity = capacity;
    }
    mSize = size;
}

} // namespace System
