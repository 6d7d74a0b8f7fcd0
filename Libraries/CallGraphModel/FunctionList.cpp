#include "CallGraphModel/FunctionList.h"

#include "CallGraphModel/FunctionIndexMap.h"

#include <algorithm>

namespace Profiler {

namespace {

class ListBuilder {
public:
    ListBuilder(const FunctionScope& scope, const std::atomic<bool>& canceled)
        : mScope(scope), mCanceled(canceled)
    {}

    static constexpr uint32_t kNoItem = FunctionIndexMap::kNotFound;

    /// `enclosing` is the item of the nearest counted ancestor that is not an instrumentation zone.
    void Walk(const CallGraphNode& node, uint32_t enclosing)
    {
        uint32_t itemIndex = kNoItem;
        bool addedToPath = false;
        if (mScope.Counts(node) && node.InclusiveTime() > 0.0) {
            const ResolvedAddress function = node.GetFunction();
            const auto [index, inserted] = mMap.FindOrInsert(function);
            if (inserted) {
                mItems.push_back({});
                mItems.back().Function = function;
                mOnPath.push_back(false);
            }
            itemIndex = index;
            FunctionListItem& item = mItems[index];
            if (!mOnPath[index]) {
                // A recursive call below an earlier occurrence is already inside its time.
                mOnPath[index] = true;
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
        if (addedToPath)
            mOnPath[itemIndex] = false;
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
    FunctionIndexMap mMap{1024};
    std::vector<FunctionListItem> mItems;
    std::vector<bool> mOnPath;
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
