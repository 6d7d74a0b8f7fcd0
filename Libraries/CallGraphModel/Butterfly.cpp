#include "CallGraphModel/Butterfly.h"

#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionMap.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <array>
#include <vector>

namespace Profiler {

namespace {

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

/// Builds the two panes of a butterfly in one walk over the source graph.
///
/// Called by: each occurrence of the function adds its time, less what nested occurrences
/// already counted, to the top node and along its chain of callers out to the outermost frame.
/// The walk emits an occurrence when it leaves it, so nested ones come first.
///
/// Calls: folding moves every re-entry of a function beside the outermost occurrence of that
/// function on its path, and merging then joins the nodes of one function under one parent. So
/// every source node below an occurrence ends up in exactly one pane node: a re-entry in the pane
/// node of the outermost occurrence, any other node in the pane child of its parent's pane node
/// for its function. The walk maps each node as it meets it and creates the pane node on first
/// use; the pane never has more nodes than the subtrees below the occurrences. A pane node's time
/// is the own time of all source nodes mapped into its pane subtree: a node that extends its
/// parent's pane path adds its time to its pane node; a re-entry's pane node may lie elsewhere on
/// the pane (not only above its parent's), so its time moves from the pane path of its parent to
/// its own, which changes only the nodes below their common ancestor.
class ButterflyBuilder {
public:
    /// Either graph may be null when only the other one is wanted.
    ButterflyBuilder(const ResolvedAddress& function, const FunctionScope& scope, CalledByGraph* calledBy,
                     CallGraph* calls, const std::atomic<bool>& canceled)
        : mFunction(function), mScope(scope), mCalls(calls), mCanceled(canceled)
    {
        if (calledBy != nullptr)
            mCalledByTop = calledBy->GetRoot().AddChild(function, kUnknownCallerAddress);
        mStack.reserve(256);
    }

    /// Walks the subtree of `start`; false when canceled.
    bool Walk(const CallGraphNode& start)
    {
        mStartDepth = start.IsRoot() ? 0 : start.Depth;
        mChainParent = nullptr;
        Enter(start, nullptr, false);
        while (!mStack.empty()) {
            Frame& frame = mStack.back();
            if (frame.Next == frame.Source->Children.size()) {
                Leave(frame);
                mStack.pop_back();
                continue;
            }
            if (frame.Next == 0)
                PrefetchChildren(*frame.Source);
            const CallGraphNode& child = *frame.Source->Children[frame.Next++];
            if ((++mVisited & kCancelCheckMask) == 0 && mCanceled.load(std::memory_order_relaxed))
                return false;
            Enter(child, frame.Pane, frame.Inside); // may grow the stack: `frame` is not used after
        }
        return !mCanceled.load(std::memory_order_relaxed);
    }

private:
    static constexpr uint64_t kCancelCheckMask = 1023;
    static constexpr int kBucketBits = 11;

    struct Frame {
        const CallGraphNode* Source;
        CallGraphNode* Pane; ///< null outside the occurrences or without a calls graph
        uint32_t Next;       ///< index of the next child to visit
        uint32_t Bucket;
        bool Inside; ///< below (or at) an occurrence
    };

    /// Frames inside the occurrences per function hash: most nodes call a function that is not on
    /// the path, and an empty bucket tells so from a table that stays in the first-level cache.
    struct Bucket {
        uint32_t Count = 0;
        uint32_t Outermost = 0; ///< stack index of the outermost frame counted here
    };

    /// An occurrence that is still being walked, and the time of the occurrences nested in it.
    struct OpenOccurrence {
        std::size_t Frame;
        StateTimeArray Nested;
    };

    static uint32_t BucketOf(const CallGraphNode& node)
    {
        const uint64_t identity = node.FunctionIndex & ResolvedAddress::kIdentityMask;
        return static_cast<uint32_t>(((node.FunctionAddress ^ (identity << 34)) * 0x9E3779B97F4A7C15ull) >>
                                     (64 - kBucketBits));
    }

    /// The source graph is far larger than the caches and its nodes lie in no useful order, so
    /// the walk would wait on memory for every node: ask for all children at once, while the
    /// first ones are handled.
    static void PrefetchChildren(const CallGraphNode& node)
    {
        for (const CallGraphNode* child : node.Children) {
            // The fields that Enter reads: children, key, parent and depth.
            const char* fields = reinterpret_cast<const char*>(&child->Children);
            __builtin_prefetch(fields);
            __builtin_prefetch(reinterpret_cast<const char*>(&child->FunctionIndex));
        }
    }

    /// The pane node of `node`'s function when the function is on the path inside the
    /// occurrence, else null. Every frame of one function there maps to the same pane node.
    CallGraphNode* FindOnPath(const CallGraphNode& node, uint32_t bucket) const
    {
        const Bucket& entry = mBuckets[bucket];
        if (entry.Count == 0)
            return nullptr;
        const ResolvedAddress function = node.GetFunction();
        if (mStack[entry.Outermost].Source->HasFunction(function))
            return mStack[entry.Outermost].Pane;
        // Another function shares the bucket: look along the path.
        for (std::size_t i = mStack.size(); i-- > 0 && mStack[i].Inside;)
            if (mStack[i].Source->HasFunction(function))
                return mStack[i].Pane;
        return nullptr;
    }

    /// Maps `node`, whose parent maps to `parentPane`, and pushes it when it has children.
    void Enter(const CallGraphNode& node, CallGraphNode* parentPane, bool parentInside)
    {
        const bool occurrence = mScope.Counts(node) && node.HasFunction(mFunction);
        if (!parentInside && !occurrence) {
            if (!node.Children.empty())
                mStack.push_back({&node, nullptr, 0, 0, false});
            return;
        }
        if (occurrence && mCalledByTop != nullptr)
            Open(node);
        if (mCalls == nullptr) {
            Push(node, nullptr, 0);
            return;
        }
        const uint32_t bucket = BucketOf(node);
        if (!parentInside) {
            // An outermost occurrence: all of them share the one top node.
            if (mCallsTop == nullptr)
                mCallsTop = mCalls->GetRoot().AddChild(node.GetFunction(), node.CallerAddress);
            AddFigures(*mCallsTop, node);
            Push(node, mCallsTop, bucket);
            return;
        }
        if (CallGraphNode* outer = FindOnPath(node, bucket)) {
            // A re-entry folds onto the outermost occurrence of its function.
            outer->MergeSamples(node.AddressSamples.Span());
            if (outer != parentPane)
                MoveTime(*parentPane, *outer, node.StateTimes);
            Push(node, outer, bucket);
            return;
        }
        CallGraphNode* pane = mChildren.FindOrCreate(*parentPane, node.GetFunction(), node.CallerAddress);
        AddFigures(*pane, node);
        Push(node, pane, bucket);
    }

    /// A node inside the occurrences. A leaf needs no frame: nothing below it looks for its function.
    void Push(const CallGraphNode& node, CallGraphNode* pane, uint32_t bucket)
    {
        if (node.Children.empty())
            return;
        if (mCalls != nullptr) {
            Bucket& entry = mBuckets[bucket];
            if (entry.Count++ == 0)
                entry.Outermost = static_cast<uint32_t>(mStack.size());
        }
        mStack.push_back({&node, pane, 0, bucket, true});
    }

    void Leave(const Frame& frame)
    {
        if (!frame.Inside)
            return;
        if (mCalls != nullptr)
            --mBuckets[frame.Bucket].Count;
        if (!mOpen.empty() && mOpen.back().Frame == mStack.size() - 1) {
            StateTimeArray delta;
            for (int i = 0; i < kThreadStateCount; ++i)
                delta[i] = frame.Source->StateTimes[i] - mOpen.back().Nested[i];
            mOpen.pop_back();
            AddToCallers(*frame.Source, delta);
        }
    }

    /// An occurrence counts only its time outside the occurrences nested in it.
    void Open(const CallGraphNode& node)
    {
        if (!mOpen.empty())
            for (int i = 0; i < kThreadStateCount; ++i)
                mOpen.back().Nested[i] += node.StateTimes[i];
        if (node.Children.empty())
            AddToCallers(node, node.StateTimes);
        else
            mOpen.push_back({mStack.size(), {}});
    }

    void AddToCallers(const CallGraphNode& occurrence, const StateTimeArray& delta)
    {
        // Occurrences under one parent (one per call site) share their chain of callers.
        if (occurrence.Parent != mChainParent || mChain.empty()) {
            mChain.clear();
            mChainParent = occurrence.Parent;
            CallGraphNode* target = mCalledByTop;
            for (const CallGraphNode* caller = occurrence.Parent; caller != nullptr && !caller->IsRoot();
                 caller = caller->Parent) {
                target = mCallers.FindOrCreate(*target, caller->GetFunction(), kUnknownCallerAddress);
                // Callers shallower than the start node lie above the custom root.
                CalledByGraphNode::From(*target).WithinCustomRoot =
                    mScope.Counts(*caller) && caller->Depth >= mStartDepth;
                mChain.push_back(target);
            }
        }
        mCalledByTop->AddTimes(delta);
        for (CallGraphNode* caller : mChain)
            caller->AddTimes(delta);
    }

    static void AddFigures(CallGraphNode& pane, const CallGraphNode& node)
    {
        pane.AddTimes(node.StateTimes);
        pane.MergeSamples(node.AddressSamples.Span());
    }

    /// Takes `times` off the pane nodes from `from` up to their common ancestor with `to`, and
    /// adds them to the pane nodes from `to` up to it; the common part keeps them.
    static void MoveTime(CallGraphNode& from, CallGraphNode& to, const StateTimeArray& times)
    {
        CallGraphNode* down = &from;
        CallGraphNode* up = &to;
        while (down != up) {
            if (down->Depth >= up->Depth) {
                down->SubtractTimes(times);
                down = down->Parent;
            } else {
                up->AddTimes(times);
                up = up->Parent;
            }
        }
    }

    const ResolvedAddress mFunction;
    const FunctionScope& mScope;
    CallGraph* mCalls;
    const std::atomic<bool>& mCanceled;
    CallGraphNode* mCalledByTop = nullptr;
    CallGraphNode* mCallsTop = nullptr;
    uint32_t mStartDepth = 0;
    std::array<Bucket, std::size_t{1} << kBucketBits> mBuckets{};
    ChildIndex mChildren{true}; ///< pane nodes are keyed by function alone
    ChildIndex mCallers;
    std::vector<Frame> mStack;
    std::vector<OpenOccurrence> mOpen;
    const CallGraphNode* mChainParent = nullptr;
    std::vector<CallGraphNode*> mChain; ///< the called-by nodes of mChainParent's callers
    uint64_t mVisited = 0;
};

} // namespace

bool BuildCalledByGraph(const CallGraphNode& root, const ResolvedAddress& function,
                        const FunctionScope& scope, CalledByGraph& calledBy,
                        const std::atomic<bool>& canceled)
{
    return BuildButterfly(root, function, scope, &calledBy, nullptr, canceled);
}

bool BuildCallsGraph(const CallGraphNode& root, const ResolvedAddress& function, const FunctionScope& scope,
                     CallGraph& calls, const std::atomic<bool>& canceled)
{
    return BuildButterfly(root, function, scope, nullptr, &calls, canceled);
}

bool BuildButterfly(const CallGraphNode& root, const ResolvedAddress& function, const FunctionScope& scope,
                    CalledByGraph* calledBy, CallGraph* calls, const std::atomic<bool>& canceled)
{
    ButterflyBuilder builder(function, scope, calledBy, calls, canceled);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath))
        if (!builder.Walk(*start))
            return false;
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
