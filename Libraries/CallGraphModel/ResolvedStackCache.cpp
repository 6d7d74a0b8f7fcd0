#include "CallGraphModel/ResolvedStackCache.h"

#include "Utility/Fnv1a.h"

namespace Profiler {

ResolvedStackCache::Slot* ResolvedStackCache::Find(uint64_t stackId)
{
    const std::size_t mask = mSlots.size() - 1;
    for (std::size_t i = Utility::Fnv1aValue(stackId) & mask;; i = (i + 1) & mask) {
        Slot& slot = mSlots[i];
        if (!slot.used || slot.stackId == stackId)
            return &slot;
    }
}

std::span<const ResolvedFrame> ResolvedStackCache::Resolve(const IOpenBarInput& input, ThreadID thread,
                                                           uint64_t stackId, double time)
{
    if (!mSlots.empty()) {
        const Slot* slot = Find(stackId);
        if (slot->used)
            return {mFrames.data() + slot->offset, slot->size};
    }
    mScratch.clear();
    if (!input.ResolveStack(thread, stackId, time, mScratch))
        mScratch.clear();
    if (mFrames.size() + mScratch.size() > kMaxFrames)
        Clear();
    if ((mCount + 1) * 2 > mSlots.size())
        Grow();
    Slot* slot = Find(stackId);
    *slot =
        Slot{stackId, static_cast<uint32_t>(mFrames.size()), static_cast<uint32_t>(mScratch.size()), true};
    ++mCount;
    mFrames.insert(mFrames.end(), mScratch.begin(), mScratch.end());
    return {mFrames.data() + slot->offset, slot->size};
}

void ResolvedStackCache::Clear()
{
    std::fill(mSlots.begin(), mSlots.end(), Slot{});
    mCount = 0;
    mFrames.clear();
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
