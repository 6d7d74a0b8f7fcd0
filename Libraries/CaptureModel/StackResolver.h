#pragma once

#include "CaptureModel/ResolvedFrame.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <span>
#include <vector>

namespace Profiler {

class CallstackNodeStore;
class ModuleDatabase;

/// Resolves stacks of the call stack node store to functions, remembering the function of
/// every (process, frame address) it resolved: stacks share their frames, so each address of
/// a capture is looked up in the module database once per process, however many stack nodes,
/// stacks and samples pass through it. An address resolves as it did the first time, whatever
/// the time of later lookups, so that a stack means the same for the whole capture. The
/// platform's verdict on whether a stack is rooted is remembered per outermost address the
/// same way.
///
/// Safe to use from several threads: the memo is split into shards with a lock each, and each
/// thread keeps the addresses it met last in a small cache of its own that needs no lock.
class StackResolver {
public:
    /// Decides whether a stack with this outermost frame is rooted.
    using RootDecision = std::function<bool(const ResolvedFrame& outermost)>;

    StackResolver(const CallstackNodeStore& store, const ModuleDatabase& modules);
    ~StackResolver();
    StackResolver(const StackResolver&) = delete;
    StackResolver& operator=(const StackResolver&) = delete;

    /// The frames of the stack as seen by `process` at `time`, outermost first. False (and no
    /// frames) when the stack is unknown; stack 0 (the store's root) has no frames.
    bool Resolve(int32_t process, uint64_t stackId, double time, std::vector<ResolvedFrame>& frames) const;
    /// As Resolve, with the node ID of each frame in `nodes`. The outer frames that the stack
    /// shares with `previous` (an earlier answer for `process`, with `previousNodes` its node
    /// IDs) are copied from it rather than walked and resolved again: consecutive samples of a
    /// thread mostly differ in their innermost frames only.
    bool ResolveAfter(int32_t process, uint64_t stackId, double time, std::span<const ResolvedFrame> previous,
                      std::span<const uint64_t> previousNodes, std::vector<ResolvedFrame>& frames,
                      std::vector<uint64_t>& nodes) const;
    /// The function of one frame address, remembered.
    ResolvedAddress ResolveAddress(int32_t process, uint64_t address, double time) const;
    /// Whether the stack is rooted, asking `decide` once per outermost address and process;
    /// none for unknown and empty stacks.
    std::optional<bool> IsRooted(int32_t process, uint64_t stackId, double time,
                                 const RootDecision& decide) const;
    /// Forgets what was resolved (after the module database changed).
    void Clear();

    /// Lookups in the module database so far (memo misses).
    uint64_t GetLookupCount() const { return mLookups.load(std::memory_order_relaxed); }

private:
    struct Shard;
    static constexpr std::size_t kShardCount = 64;

    const CallstackNodeStore& mStore; // not owned
    const ModuleDatabase& mModules;   // not owned
    std::unique_ptr<std::array<Shard, kShardCount>> mShards;
    /// Tells this resolver's entries in the per-thread caches apart: unique per resolver and
    /// renewed by Clear.
    std::atomic<uint64_t> mCacheOwner;
    mutable std::atomic<uint64_t> mLookups{0};
};

} // namespace Profiler
