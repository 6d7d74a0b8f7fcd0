#include "CallGraphModel/Butterfly.h"

#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionMap.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <vector>

namespace Profiler {

namespace {

class CalledByCollector {
public:
    CalledByCollector(const ResolvedAddress& function, const FunctionScope& scope, CallGraphNode& top,
                      const std::atomic<bool>& canceled)
        : mFunction(function), mScope(scope), mTop(top), mCanceled(canceled)
    {}

    /// Returns the times of `function` counted in the subtree of `node` (nested occurrences once).
    StateTimeArray Collect(const CallGraphNode& node)
    {
        StateTimeArray counted{};
        for (const CallGraphNode* child : node.Children) {
            if (mCanceled.load(std::memory_order_relaxed))
                return counted;
            const StateTimeArray childCounted = Collect(*child);
            for (int i = 0; i < kThreadStateCount; ++i)
                counted[i] += childCounted[i];
        }
        if (!mScope.Counts(node) || !node.HasFunction(mFunction))
            return counted;

        // Only the part not already counted by a nested occurrence goes up the caller chain.
        StateTimeArray delta;
        for (int i = 0; i < kThreadStateCount; ++i)
            delta[i] = node.StateTimes[i] - counted[i];
        CallGraphNode* target = &mTop;
        for (const CallGraphNode* caller = &node;;) {
            target->AddTimes(delta);
            caller = caller->Parent;
            if (caller == nullptr || caller->IsRoot())
                break;
            target = mCallers.FindOrCreate(*target, caller->GetFunction(), kUnknownCallerAddress);
            CalledByGraphNode::From(*target).WithinCustomRoot =
                mScope.Counts(*caller) && caller->Depth >= mStartDepth;
        }
        for (int i = 0; i < kThreadStateCount; ++i)
            counted[i] += delta[i];
        return counted;
    }

    /// Callers shallower than the start node lie above the custom root.
    void SetStartNode(const CallGraphNode& start) { mStartDepth = start.IsRoot() ? 0 : start.Depth; }

private:
    const ResolvedAddress mFunction;
    const FunctionScope& mScope;
    CallGraphNode& mTop;
    const std::atomic<bool>& mCanceled;
    uint32_t mStartDepth = 0;
    ChildIndex mCallers;
};

class SubtreeCopier {
public:
    SubtreeCopier(const ResolvedAddress& function, const FunctionScope& scope, RecursionRootSet& roots,
                  const std::atomic<bool>& canceled)
        : mFunction(function), mScope(scope), mRoots(roots), mCanceled(canceled)
    {}

    void Copy(const CallGraphNode& node, CallGraphNode& target, bool inside)
    {
        if (!inside && (!mScope.Counts(node) || !node.HasFunction(mFunction))) {
            for (const CallGraphNode* child : node.Children) {
                Copy(*child, target, false);
                if (mCanceled.load(std::memory_order_relaxed))
                    return;
            }
            return;
        }

        const ResolvedAddress function = node.GetFunction();
        CallGraphNode* copy = mCopies.FindOrCreate(target, function, node.CallerAddress);
        copy->AddTimes(node.StateTimes);
        copy->MergeSamples(node.AddressSamples.Span());

        bool inserted = false;
        uint32_t slot = mPath.FindOrInsertSlot(function, inserted);
        const uint32_t generation = mPath.GetGeneration();
        bool recorded = false;
        if (!mPath[slot].onPath) {
            mPath[slot] = {copy, true};
            recorded = true;
        } else {
            mRoots.insert(mPath[slot].outer);
        }

        for (const CallGraphNode* child : node.Children) {
            Copy(*child, *copy, true);
            if (mCanceled.load(std::memory_order_relaxed))
                return;
        }
        if (recorded) {
            if (generation != mPath.GetGeneration())
                slot = mPath.FindSlot(function);
            mPath[slot].onPath = false;
        }
    }

private:
    struct Entry {
        const CallGraphNode* outer = nullptr; ///< the copy that stands for the function on the path
        bool onPath = false;
    };

    const ResolvedAddress mFunction;
    const FunctionScope& mScope;
    RecursionRootSet& mRoots;
    const std::atomic<bool>& mCanceled;
    FunctionMap<Entry> mPath;
    ChildIndex mCopies;
};

} // namespace

bool BuildCalledByGraph(const CallGraphNode& root, const ResolvedAddress& function,
                        const FunctionScope& scope, CalledByGraph& calledBy,
                        const std::atomic<bool>& canceled)
{
    CallGraphNode* top = calledBy.GetRoot().AddChild(function, kUnknownCallerAddress);
    CalledByCollector collector(function, scope, *top, canceled);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath)) {
        collector.SetStartNode(*start);
        collector.Collect(*start);
        if (canceled.load(std::memory_order_relaxed))
            return false;
    }
    return true;
}

bool CollectSubtreesBelowFunction(const CallGraphNode& root, const ResolvedAddress& function,
                                  const FunctionScope& scope, CallGraph& calls,
                                  RecursionRootSet& recursionRoots, const std::atomic<bool>& canceled)
{
    SubtreeCopier copier(function, scope, recursionRoots, canceled);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath)) {
        copier.Copy(*start, calls.GetRoot(), false);
        if (canceled.load(std::memory_order_relaxed))
            return false;
    }
    return true;
}

bool BuildSubgraphBelowFunction(const CallGraphNode& root, const ResolvedAddress& function,
                                const FunctionScope& scope, FoldedCallGraph& folded, MergedCallGraph* merged,
                                const std::atomic<bool>& canceled)
{
    CallGraph calls;
    RecursionRootSet recursionRoots;
    if (!CollectSubtreesBelowFunction(root, function, scope, calls, recursionRoots, canceled))
        return false;
    FoldAndMerge(calls.GetRoot(), recursionRoots, folded, merged, false, canceled);
    return !canceled.load(std::memory_order_relaxed);
}

} // namespace Profiler
