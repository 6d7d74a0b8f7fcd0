#include "CallGraphModel/NodeArena.h"

#include "System/Platform/LargeBlocks.h"
#include "Utility/Assert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Profiler {

NodeArena::NodeArena(std::size_t firstBlockBytes, bool zeroFill) : mZeroFill(zeroFill)
{
    AppendBlock(firstBlockBytes > 0 ? firstBlockBytes : kAlignment);
}

NodeArena::~NodeArena()
{
    for (Block& block : mBlocks) {
        if (block.capacity >= System::Platform::kLargeBlockMinimum)
            System::Platform::FreeLargeBlock(block.start, block.capacity);
        else
            std::free(block.start);
    }
}

void NodeArena::AppendBlock(std::size_t capacity)
{
    // Large blocks come zeroed from the system in (huge) pages; graphs of millions of nodes
    // otherwise spend more time in page faults than in building themselves.
    void* start = capacity >= System::Platform::kLargeBlockMinimum
                      ? System::Platform::AllocateLargeBlock(capacity)
                  : mZeroFill ? std::calloc(capacity, 1)
                              : std::malloc(capacity);
    if (start == nullptr)
        throw std::bad_alloc();
    mBlocks.push_back({static_cast<std::byte*>(start), 0, capacity});
}

void* NodeArena::AllocateSlow(std::size_t bytes)
{
    // Move on through blocks kept from before a Reset; one too small for this request is skipped.
    while (mCurrent + 1 < mBlocks.size()) {
        Block& next = mBlocks[++mCurrent];
        next.used = 0;
        if (mZeroFill)
            std::memset(next.start, 0, next.capacity);
        if (bytes <= next.capacity) {
            next.used = bytes;
            mBytesAllocated += bytes;
            return next.start;
        }
    }
    const double grown = std::ceil(static_cast<double>(mBlocks.back().capacity) * mGrowthFactor);
    AppendBlock(std::max(static_cast<std::size_t>(grown), bytes));
    mCurrent = mBlocks.size() - 1;
    Block& block = mBlocks[mCurrent];
    block.used = bytes;
    mBytesAllocated += bytes;
    return block.start;
}

void* NodeArena::AllocateArray(std::size_t bytes)
{
    QX_ASSERT(std::has_single_bit(bytes) && bytes >= 8, "array size %zu is not a power of two", bytes);
    const int sizeClass = std::countr_zero(bytes);
    if (sizeClass < kArrayClassCount && mFreeArrays[sizeClass] != nullptr) {
        void* data = mFreeArrays[sizeClass];
        std::memcpy(&mFreeArrays[sizeClass], data, sizeof(void*));
        return data;
    }
    return Allocate(bytes);
}

void NodeArena::ReleaseArray(void* data, std::size_t bytes)
{
    if (data == nullptr)
        return;
    const int sizeClass = std::countr_zero(bytes);
    if (sizeClass >= kArrayClassCount)
        return;
    std::memcpy(data, &mFreeArrays[sizeClass], sizeof(void*));
    mFreeArrays[sizeClass] = data;
}

void NodeArena::Reset()
{
    mCurrent = 0;
    mBlocks[0].used = 0;
    if (mZeroFill)
        std::memset(mBlocks[0].start, 0, mBlocks[0].capacity);
    mBytesAllocated = 0;
    mFreeArrays.fill(nullptr);
}

std::size_t NodeArena::GetBytesReserved() const
{
    std::size_t total = 0;
    for (const Block& block : mBlocks)
        total += block.capacity;
    return total;
}

} // namespace Profiler
