#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Profiler {

/// Bump allocator behind a call graph's nodes and their arrays. Memory comes in blocks that
/// grow by kGrowthFactor; nothing is freed one by one. Reset makes every block reusable and
/// destruction frees them all.
///
/// Node arrays (children, samples) also live here: their capacities are powers of two and an
/// array that outgrows its storage returns it to a free list of its size class, where the next
/// array of that size picks it up. A graph therefore never touches the heap per node.
class NodeArena {
public:
    static constexpr float kGrowthFactor = 1.5f;
    static constexpr std::size_t kAlignment = 8;
    /// Holds both panes of a butterfly over a graph of a million nodes (about 300 MB).
    static constexpr std::size_t kPoolBytes = std::size_t(384) << 20;

    explicit NodeArena(std::size_t firstBlockBytes = 1024, bool zeroFill = false);
    ~NodeArena();
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    /// `bytes` rounded up to kAlignment, from the current block or the next one. A request larger
    /// than the next block gets a block of its own size (only large arrays do that).
    void* Allocate(std::size_t bytes);

    /// Storage for an array of `bytes`, a power of two of at least 8.
    void* AllocateArray(std::size_t bytes);
    /// Hands back what AllocateArray(bytes) returned, for reuse by later arrays.
    void ReleaseArray(void* data, std::size_t bytes);

    /// Makes all storage reusable: allocations start again at the beginning of the first block.
    void Reset();

    struct BlockInfo {
        std::size_t used;
        std::size_t capacity;
    };
    std::size_t GetBlockCount() const { return mBlocks.size(); }
    BlockInfo GetBlockInfo(std::size_t index) const { return {mBlocks[index].used, mBlocks[index].capacity}; }
    std::size_t GetCurrentBlockIndex() const { return mCurrent; }
    /// Bytes handed out since creation or the last Reset.
    std::size_t GetBytesAllocated() const { return mBytesAllocated; }
    /// Sum of all block capacities.
    std::size_t GetBytesReserved() const;

    /// Bytes of destroyed arenas' blocks waiting in the pool for reuse.
    static std::size_t GetPooledBytes();
    /// Returns every pooled block to the system.
    static void ReleasePool();

private:
    struct Block {
        std::byte* start;
        std::size_t used;
        std::size_t capacity;
    };

    void* AllocateSlow(std::size_t bytes);
    /// A block of about `capacity` bytes (a pooled one may be larger or smaller) and at least
    /// `needed`.
    void AppendBlock(std::size_t capacity, std::size_t needed);

    static constexpr int kArrayClassCount = 48;

    std::vector<Block> mBlocks;
    std::size_t mCurrent = 0;
    float mGrowthFactor = kGrowthFactor;
    bool mZeroFill = false;
    std::size_t mBytesAllocated = 0;
    std::array<void*, kArrayClassCount> mFreeArrays{}; ///< singly linked through each array's first word
};

inline void* NodeArena::Allocate(std::size_t bytes)
{
    bytes = (bytes + kAlignment - 1) & ~(kAlignment - 1);
    Block& block = mBlocks[mCurrent];
    if (block.used + bytes <= block.capacity) {
        void* result = block.start + block.used;
        block.used += bytes;
        mBytesAllocated += bytes;
        return result;
    }
    return AllocateSlow(bytes);
}

} // namespace Profiler
