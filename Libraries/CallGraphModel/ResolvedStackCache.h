#pragma once

#include "CallGraphModel/IOpenBarInput.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Profiler {

/// Resolved call stacks of one thread by stack ID, so that a stack is resolved once however
/// often it is sampled. Frames of all stacks share one array; when it holds more than
/// kMaxFrames the cache starts over, which bounds its memory on captures with many distinct
/// stacks. A stack met for the first time is resolved after the last one asked for: the outer
/// frames they share are taken from it. Not thread-safe.
class ResolvedStackCache {
public:
    static constexpr std::size_t kMaxFrames = 1u << 18;

    /// The frames of `stackId`, resolved through `input` on first use; empty when the stack is
    /// unknown. Valid until the next call.
    std::span<const ResolvedFrame> Resolve(const IOpenBarInput& input, ThreadID thread, uint64_t stackId,
                                           double time);

    std::size_t GetStackCount() const { return mCount; }
    void Clear();

private:
    struct Slot {
        uint64_t stackId = 0;
        uint32_t offset = 0;
        uint32_t size = 0;
        bool used = false;
    };

    Slot* Find(uint64_t stackId);
    void Grow();

    std::vector<Slot> mSlots;
    std::size_t mCount = 0;
    std::vector<ResolvedFrame> mFrames;
    std::vector<uint64_t> mNodes; ///< beside mFrames: each frame's node ID, 0 when unknown
    Slot mLast;                   ///< the stack asked for last (unused: none)
    std::vector<ResolvedFrame> mScratch;
    std::vector<uint64_t> mScratchNodes;
};

} // namespace Profiler
