#include "CallGraphModel/NodeArena.h"

#include "System/Platform/LargeBlocks.h"
#include "Utility/Assert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace Profiler {

namespace {

/// Large blocks of destroyed arenas, kept for the next arenas. A graph built right after another
/// (the butterfly of one function after another's) then writes into pages that are already
/// mapped; fresh pages cost a fault and the system zeroing them, about as much again as building
/// a large graph. Nodes are initialised when created, so a block needs no zeroing here.
class LargeBlockPool {
public:
    /// Takes the smallest block of at least `wanted` bytes, or else the largest of at least
    /// `needed`; a block far larger than wanted stays for a larger graph. Null when none fits.
    void* Take(std::size_t wanted, std::size_t needed, std::size_t& capacity)
    {
        const std::lock_guard lock(mMutex);
        std::size_t best = mBlocks.size();
        for (std::size_t i = 0; i < mBlocks.size(); ++i) {
            const std::size_t size = mBlocks[i].capacity;
            if (size < needed || size / 4 > wanted)
                continue;
            const std::size_t bestSize = best < mBlocks.size() ? mBlocks[best].capacity : 0;
            const bool better = size >= wanted ? bestSize < wanted || size < bestSize : size > bestSize;
            if (better)
                best = i;
        }
        if (best == mBlocks.size())
            return nullptr;
        void* block = mBlocks[best].start;
        capacity = mBlocks[best].capacity;
        mBytes -= capacity;
        mBlocks[best] = mBlocks.back();
        mBlocks.pop_back();
        return block;
    }

    /// Keeps the block, or returns it to the system when the pool is full.
    void Give(void* block, std::size_t capacity)
    {
        {
            const std::lock_guard lock(mMutex);
            if (mBytes + capacity <= NodeArena::kPoolBytes) {
                mBlocks.push_back({block, capacity});
                mBytes += capacity;
                return;
            }
        }
        System::Platform::FreeLargeBlock(block, capacity);
    }

    std::size_t GetBytes()
    {
        const std::lock_guard lock(mMutex);
        return mBytes;
    }

    void Release()
    {
        std::vector<PooledBlock> blocks;
        {
            const std::lock_guard lock(mMutex);
            blocks.swap(mBlocks);
            mBytes = 0;
        }
        for (const PooledBlock& block : blocks)
            System::Platform::FreeLargeBlock(block.start, block.capacity);
    }

private:
    struct PooledBlock {
        void* start;
        std::size_t capacity;
    };

    std::mutex mMutex;
    std::vector<PooledBlock> mBlocks;
    std::size_t mBytes = 0;
};

// Never destroyed: arenas of static graphs may go after it at exit.
LargeBlockPool& GetPool()
{
    static LargeBlockPool* pool = new LargeBlockPool;
    return *pool;
}

} // namespace

NodeArena::NodeArena(std::size_t firstBlockBytes, bool zeroFill) : mZeroFill(zeroFill)
{
    const std::size_t bytes = firstBlockBytes > 0 ? firstBlockBytes : kAlignment;
    AppendBlock(bytes, bytes);
}

NodeArena::~NodeArena()
{
    for (Block& block : mBlocks) {
        if (block.capacity >= System::Platform::kLargeBlockMinimum)
            GetPool().Give(block.start, block.capacity);
        else
            std::free(block.start);
    }
}

void NodeArena::AppendBlock(std::size_t capacity, std::size_t needed)
{
    void* start = nullptr;
    if (capacity >= System::Platform::kLargeBlockMinimum) {
        // A pooled block is already mapped; a new one comes zeroed from the system in (huge)
        // pages, as graphs of millions of nodes otherwise spend more time in page faults than in
        // building themselves.
        std::size_t pooled = 0;
        start = GetPool().Take(capacity, needed, pooled);
        if (start != nullptr) {
            capacity = pooled;
            if (mZeroFill)
                std::memset(start, 0, capacity);
        } else {
            start = System::Platform::AllocateLargeBlock(capacity);
        }
    } else {
        start = mZeroFill ? std::calloc(capacity, 1) : std::malloc(capacity);
    }
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
    AppendBlock(std::max(static_cast<std::size_t>(grown), bytes), bytes);
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

std::size_t NodeArena::GetPooledBytes()
{
    return GetPool().GetBytes();
}

void NodeArena::ReleasePool()
{
    GetPool().Release();
}

std::size_t NodeArena::GetBytesReserved() const
{
    std::size_t total = 0;
    for (const Block& block : mBlocks)
        total += block.capacity;
    return total;
}

} // namespace Profiler
