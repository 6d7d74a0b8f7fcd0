#include "CallGraphModel/ResolvedStackCache.h"

#include "Utility/Fnv1a.h"

namespace Profiler {

namespace {

/// Stack IDs are node indexes handed out in sequence. FNV-1a leaves the low bits of such keys
/// so alike that the probe runs grew to hundreds of slots; a full mix spreads them.
uint64_t MixStackId(uint64_t stackId)
{
    return Utility::MixBits64(stackId);
}

} // namespace

ResolvedStackCache::Slot* ResolvedStackCache::Find(uint64_t stackId)
{
    const std::size_t mask = mSlots.size() - 1;
    for (std::size_t i = MixStackId(stackId) & mask;; i = (i + 1) & mask) {
        Slot& slot = mSlots[i];
        if (!slot.used || slot.stackId == stackId)
            return &slot;
    }
}

std::span<const ResolvedFrame> ResolvedStackCache::Resolve(const IOpenBarInput& input, ThreadID thread,
                                                           uint64_t stackId, double time)
{
    // A thread often stays on one stack from sample to sample; the table itself is one cache
    // miss per look-up once it outgrows the caches.
    if (mLast.used && mLast.stackId == stackId)
        return {mFrames.data() + mLast.offset, mLast.size};
    if (!mSlots.empty()) {
        const Slot* slot = Find(stackId);
        if (slot->used) {
            mLast = *slot;
            return {mFrames.data() + slot->offset, slot->size};
        }
    }
    std::span<const ResolvedFrame> previous;
    std::span<const uint64_t> previousNodes;
    if (mLast.used) {
        previous = {mFrames.data() + mLast.offset, mLast.size};
        previousNodes = {mNodes.data() + mLast.offset, mLast.size};
    }
    if (!input.ResolveStackAfter(thread, stackId, time, previous, previousNodes, mScratch, mScratchNodes)) {
        mScratch.clear();
        mScratchNodes.clear();
    }
    if (mFrames.size() + mScratch.size() > kMaxFrames)
        Clear();
    if ((mCount + 1) * 2 > mSlots.size())
        Grow();
    Slot* slot = Find(stackId);
    *slot =
        Slot{stackId, static_cast<uint32_t>(mFrames.size()), static_cast<uint32_t>(mScratch.size()), true};
    ++mCount;
    mFrames.insert(mFrames.end(), mScratch.begin(), mScratch.end());
    if (mScratchNodes.size() == mScratch.size())
        mNodes.insert(mNodes.end(), mScratchNodes.begin(), mScratchNodes.end());
    else
        mNodes.resize(mFrames.size(), 0);
    mLast = *slot;
    return {mFrames.data() + slot->offset, slot->size};
}

void ResolvedStackCache::Clear()
{
    std::fill(mSlots.begin(), mSlots.end(), Slot{});
    mCount = 0;
    mFrames.clear();
    mNodes.clear();
    mLast = {};
}

void ResolvedStackCache::Grow()
{
    // Small at first: a capture may have 100,000 threads with a few stacks each.
    std::vector<Slot> old(std::max<std::size_t>(16, mSlots.size() * 2));
    old.swap(mSlots);
    mCount = 0;
    for (const Slot& slot : old)
        if (slot.used) {
            *Find(slot.stackId) = slot;
            ++mCount;
        }
}

} // namespace Profiler
