#include "CaptureModel/StackResolver.h"

#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/ModuleDatabase.h"

#include <memory>
#include <mutex>

namespace Profiler {

namespace {

uint64_t MixKey(int32_t process, uint64_t address)
{
    uint64_t h =
        address * 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(static_cast<uint32_t>(process)) << 1);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

enum ERooted : uint8_t { kRootedUnknown = 0, kRootedNo = 1, kRootedYes = 2 };

/// Owners of per-thread cache entries are never reused, so an entry of a destroyed or cleared
/// resolver never matches again.
std::atomic<uint64_t> gNextCacheOwner{1};

/// The addresses a thread resolved last, direct-mapped by hash.
struct ThreadCache {
    static constexpr std::size_t kSize = 4096;
    struct Entry {
        uint64_t owner = 0;
        uint64_t address = 0;
        int32_t process = 0;
        ResolvedAddress function;
    };
    std::array<Entry, kSize> entries;
    std::vector<uint64_t> addresses; ///< scratch for stack walks
    std::vector<uint64_t> nodes;     ///< the node IDs of a walk
};

ThreadCache& GetThreadCache()
{
    // Allocated on first use: a thread-local object of this size would sit in the static TLS
    // block, which is cleared for every thread the process starts, resolving or not.
    thread_local std::unique_ptr<ThreadCache> cache;
    if (!cache)
        cache = std::make_unique<ThreadCache>();
    return *cache;
}

} // namespace

/// An open-addressing table of (process, address) → function and rootedness, grown at half load.
struct StackResolver::Shard {
    struct Slot {
        uint64_t address = 0;
        int32_t process = 0;
        uint8_t used = 0;
        uint8_t rooted = kRootedUnknown;
        ResolvedAddress function;
    };

    mutable std::shared_mutex mutex;
    std::vector<Slot> slots;
    std::size_t count = 0;

    Slot* Find(int32_t process, uint64_t address, uint64_t hash)
    {
        if (slots.empty())
            return nullptr;
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = (hash >> 6) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (!slot.used)
                return nullptr;
            if (slot.address == address && slot.process == process)
                return &slot;
        }
    }

    /// The slot of the pair, added with `function` unless it is there already (another thread
    /// may have resolved it meanwhile).
    Slot& Insert(int32_t process, uint64_t address, uint64_t hash, const ResolvedAddress& function)
    {
        if (2 * (count + 1) > slots.size())
            Grow();
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = (hash >> 6) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (!slot.used) {
                slot = {address, process, 1, kRootedUnknown, function};
                ++count;
                return slot;
            }
            if (slot.address == address && slot.process == process)
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
                Insert(slot.process, slot.address, MixKey(slot.process, slot.address), slot.function).rooted =
                    slot.rooted;
    }
};

StackResolver::StackResolver(const CallstackNodeStore& store, const ModuleDatabase& modules)
    : mStore(store), mModules(modules), mShards(std::make_unique<std::array<Shard, kShardCount>>()),
      mCacheOwner(gNextCacheOwner.fetch_add(1))
{}

StackResolver::~StackResolver() = default;

ResolvedAddress StackResolver::ResolveAddress(int32_t process, uint64_t address, double time) const
{
    const uint64_t hash = MixKey(process, address);
    const uint64_t owner = mCacheOwner.load(std::memory_order_relaxed);
    ThreadCache::Entry& local = GetThreadCache().entries[(hash >> 20) % ThreadCache::kSize];
    if (local.owner == owner && local.address == address && local.process == process)
        return local.function;

    Shard& shard = (*mShards)[hash % kShardCount];
    ResolvedAddress function;
    bool found = false;
    {
        std::shared_lock lock(shard.mutex);
        if (const Shard::Slot* slot = shard.Find(process, address, hash)) {
            function = slot->function;
            found = true;
        }
    }
    if (!found) {
        function = mModules.Resolve(process, time, address).Function;
        mLookups.fetch_add(1, std::memory_order_relaxed);
        std::unique_lock lock(shard.mutex);
        function = shard.Insert(process, address, hash, function).function;
    }
    local = {owner, address, process, function};
    return function;
}

bool StackResolver::Resolve(int32_t process, uint64_t stackId, double time,
                            std::vector<ResolvedFrame>& frames) const
{
    frames.clear();
    if (stackId == 0)
        return true;
    std::vector<uint64_t>& addresses = GetThreadCache().addresses;
    if (!mStore.GetStack(stackId, addresses))
        return false;
    frames.resize(addresses.size());
    uint64_t caller = ~0ull;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const uint64_t address = addresses[i];
        frames[i] = {ResolveAddress(process, address, time), address, caller};
        caller = address;
    }
    return true;
}

bool StackResolver::ResolveAfter(int32_t process, uint64_t stackId, double time,
                                 std::span<const ResolvedFrame> previous,
                                 std::span<const uint64_t> previousNodes, std::vector<ResolvedFrame>& frames,
                                 std::vector<uint64_t>& nodes) const
{
    frames.clear();
    nodes.clear();
    if (stackId == 0)
        return true;
    ThreadCache& cache = GetThreadCache();
    std::vector<uint64_t>& addresses = cache.addresses;
    std::vector<uint64_t>& walked = cache.nodes;
    if (previous.size() != previousNodes.size())
        previousNodes = {};
    std::size_t shared = 0;
    if (!mStore.GetStackNodesBelow(stackId, previousNodes, addresses, walked, shared))
        return false;
    frames.assign(previous.begin(), previous.begin() + static_cast<std::ptrdiff_t>(shared));
    nodes.assign(previousNodes.begin(), previousNodes.begin() + static_cast<std::ptrdiff_t>(shared));
    frames.reserve(shared + addresses.size());
    nodes.reserve(shared + addresses.size());
    uint64_t caller = shared > 0 ? previous[shared - 1].FrameAddress : ~0ull;
    for (std::size_t i = addresses.size(); i-- > 0;) {
        const uint64_t address = addresses[i];
        frames.push_back({ResolveAddress(process, address, time), address, caller});
        nodes.push_back(walked[i]);
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
    const uint64_t hash = MixKey(process, address);
    Shard& shard = (*mShards)[hash % kShardCount];
    {
        std::shared_lock lock(shard.mutex);
        const Shard::Slot* slot = shard.Find(process, address, hash);
        if (slot && slot->rooted != kRootedUnknown)
            return slot->rooted == kRootedYes;
    }
    const ResolvedFrame outermost{ResolveAddress(process, address, time), address, ~0ull};
    const bool rooted = decide(outermost);
    std::unique_lock lock(shard.mutex);
    Shard::Slot& slot = shard.Insert(process, address, hash, outermost.Function);
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
    mCacheOwner.store(gNextCacheOwner.fetch_add(1), std::memory_order_relaxed);
}

} // namespace Profiler
