#include "CallGraphModel/FunctionList.h"

#include "CallGraphModel/FunctionMap.h"

#include <algorithm>

namespace Profiler {

namespace {

class ListBuilder {
public:
    ListBuilder(const FunctionScope& scope, const std::atomic<bool>& canceled)
        : mScope(scope), mCanceled(canceled)
    {}

    static constexpr uint32_t kNoItem = ~0u;

    /// `enclosing` is the item of the nearest counted ancestor that is not an instrumentation zone.
    void Walk(const CallGraphNode& node, uint32_t enclosing)
    {
        const ResolvedAddress function = node.GetFunction();
        uint32_t slot = 0;
        uint32_t generation = 0;
        bool addedToPath = false;
        if (mScope.Counts(node) && node.InclusiveTime() > 0.0) {
            bool inserted = false;
            slot = mMap.FindOrInsertSlot(function, inserted);
            generation = mMap.GetGeneration();
            Entry& entry = mMap[slot];
            if (inserted) {
                entry.item = static_cast<uint32_t>(mItems.size());
                mItems.push_back({});
                mItems.back().Function = function;
            }
            const uint32_t index = entry.item;
            FunctionListItem& item = mItems[index];
            if (!entry.onPath) {
                // A recursive call below an earlier occurrence is already inside its time.
                entry.onPath = true;
                addedToPath = true;
                for (int i = 0; i < kThreadStateCount; ++i)
                    item.Inclusive[i] += node.StateTimes[i];
            }
            const SelfTimeSplit split = ComputeSelfTimeSplit(node, mScope.SamplingIntervalMs);
            Add(item, split);
            item.SampleCount += node.GetSampleCount();
            if (function.IsInstrumentationZone()) {
                // A zone is part of the code of the function that opened it.
                if (enclosing != kNoItem)
                    Add(mItems[enclosing], split);
            } else {
                enclosing = index;
            }
        }
        for (const CallGraphNode* child : node.Children) {
            if (mCanceled.load(std::memory_order_relaxed))
                return;
            Walk(*child, enclosing);
        }
        if (addedToPath) {
            if (generation != mMap.GetGeneration())
                slot = mMap.FindSlot(function);
            mMap[slot].onPath = false;
        }
    }

    std::vector<FunctionListItem>& GetItems() { return mItems; }

private:
    static void Add(FunctionListItem& item, const SelfTimeSplit& split)
    {
        item.Exclusive += split.Exclusive;
        item.UnknownExecuting += split.UnknownExecuting;
        item.UnknownWait += split.UnknownWait;
    }

    const FunctionScope& mScope;
    const std::atomic<bool>& mCanceled;
    struct Entry {
        uint32_t item = kNoItem;
        bool onPath = false; ///< the function is on the path of the current node
    };

    FunctionMap<Entry> mMap{1024};
    std::vector<FunctionListItem> mItems;
};

} // namespace

bool BuildFunctionList(const CallGraphNode& root, const FunctionScope& scope, FunctionListItems& items,
                       const std::atomic<bool>& canceled)
{
    items.clear();
    ListBuilder builder(scope, canceled);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath)) {
        builder.Walk(*start, ListBuilder::kNoItem);
        if (canceled.load(std::memory_order_relaxed))
            return false;
    }
    std::vector<FunctionListItem>& built = builder.GetItems();
    items.reserve(built.size());
    for (FunctionListItem& item : built)
        items.push_back(std::make_unique<FunctionListItem>(item));
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return a->GetTotalInclusive() > b->GetTotalInclusive();
    });
    return true;
}

} // namespace Profiler
