#include "CaptureModel/StackResolver.h"

#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/ModuleDatabase.h"

#include <mutex>

namespace Profiler {

namespace {

/// Per-thread scratch for the node walk, so that resolving allocates only while a thread meets
/// deeper stacks than before.
struct Scratch {
    std::vector<uint64_t> addresses;
    std::vector<uint64_t> nodes;
};

Scratch& GetScratch()
{
    thread_local Scratch scratch;
    return scratch;
}

uint64_t MixKey(int32_t process, uint64_t node)
{
    uint64_t h = node * 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(static_cast<uint32_t>(process)) << 1);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

enum ERooted : uint8_t { kRootedUnknown = 0, kRootedNo = 1, kRootedYes = 2 };

} // namespace

/// An open-addressing table of (process, node) → function and rootedness, grown at half load.
struct StackResolver::Shard {
    struct Slot {
        uint64_t node = 0;
        int32_t process = 0;
        uint8_t used = 0;
        uint8_t rooted = kRootedUnknown;
        ResolvedAddress function;
    };

    mutable std::shared_mutex mutex;
    std::vector<Slot> slots;
    std::size_t count = 0;

    Slot* Find(int32_t process, uint64_t node, uint64_t hash)
    {
        if (slots.empty())
            return nullptr;
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = (hash >> 6) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (!slot.used)
                return nullptr;
            if (slot.node == node && slot.process == process)
                return &slot;
        }
    }

    /// The slot of the pair, added with `function` unless it is there already (another thread
    /// may have resolved it meanwhile).
    Slot& Insert(int32_t process, uint64_t node, uint64_t hash, const ResolvedAddress& function)
    {
        if (2 * (count + 1) > slots.size())
            Grow();
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = (hash >> 6) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (!slot.used) {
                slot = {node, process, 1, kRootedUnknown, function};
                ++count;
                return slot;
            }
            if (slot.node == node && slot.process == process)
                return slot;
        }
    }

    void Grow()
    {
        std::vector<Slot> old = std::move(slots);
        slots.assign(old.empty() ? 256 : old.size() * 2, Slot{});
        count = 0;
        for (const Slot& slot : old)
            if (slot.used)
                Insert(slot.process, slot.node, MixKey(slot.process, slot.node), slot.function).rooted =
                    slot.rooted;
    }
};

StackResolver::StackResolver(const CallstackNodeStore& store, const ModuleDatabase& modules)
    : mStore(store), mModules(modules), mShards(std::make_unique<std::array<Shard, kShardCount>>())
{}

StackResolver::~StackResolver() = default;

ResolvedAddress StackResolver::ResolveNode(int32_t process, uint64_t node, uint64_t address,
                                           double time) const
{
    const uint64_t hash = MixKey(process, node);
    Shard& shard = (*mShards)[hash % kShardCount];
    {
        std::shared_lock lock(shard.mutex);
        if (const Shard::Slot* slot = shard.Find(process, node, hash))
            return slot->function;
    }
    const ResolvedAddress function = mModules.Resolve(process, time, address).Function;
    mLookups.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock lock(shard.mutex);
    return shard.Insert(process, node, hash, function).function;
}

bool StackResolver::Resolve(int32_t process, uint64_t stackId, double time,
                            std::vector<ResolvedFrame>& frames) const
{
    frames.clear();
    if (stackId == 0)
        return true;
    Scratch& scratch = GetScratch();
    if (!mStore.GetStackNodes(stackId, scratch.addresses, scratch.nodes))
        return false;
    frames.resize(scratch.nodes.size());
    uint64_t caller = ~0ull;
    for (std::size_t i = 0; i < scratch.nodes.size(); ++i) {
        const uint64_t address = scratch.addresses[i];
        frames[i] = {ResolveNode(process, scratch.nodes[i], address, time), address, caller};
        caller = address;
    }
    return true;
}

std::optional<bool> StackResolver::IsRooted(int32_t process, uint64_t stackId, double time,
                                            const RootDecision& decide) const
{
    uint64_t node = 0;
    uint64_t address = 0;
    if (stackId == 0 || !mStore.GetOutermostFrame(stackId, node, address))
        return std::nullopt;
    const uint64_t hash = MixKey(process, node);
    Shard& shard = (*mShards)[hash % kShardCount];
    {
        std::shared_lock lock(shard.mutex);
        const Shard::Slot* slot = shard.Find(process, node, hash);
        if (slot && slot->rooted != kRootedUnknown)
            return slot->rooted == kRootedYes;
    }
    const ResolvedFrame outermost{ResolveNode(process, node, address, time), address, ~0ull};
    const bool rooted = decide(outermost);
    std::unique_lock lock(shard.mutex);
    Shard::Slot& slot = shard.Insert(process, node, hash, outermost.Function);
    if (slot.rooted == kRootedUnknown)
        slot.rooted = rooted ? kRootedYes : kRootedNo;
    return slot.rooted == kRootedYes;
}

void StackResolver::Clear()
{
    for (Shard& shard : *mShards) {
        std::unique_lock lock(shard.mutex);
        shard.slots.clear();
        shard.count = 0;
    }
}

} // namespace Profiler
