#include "CallGraphModel/Butterfly.h"

#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionMap.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <algorithm>
#include <array>
#include <span>
#include <unordered_map>
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

/// The key of the stand-in child that holds the figures of a pane node's children not built yet.
constexpr ResolvedAddress kUnbuiltFunction =
    ResolvedAddress::Make(~uint64_t{2}, ResolvedAddress::kKindPseudo, 0);
constexpr uint64_t kUnbuiltCallerAddress = ~uint64_t{2};

/// Which nodes of one pane a walk creates. A pane node maps the source nodes of one path; a node
/// that is not created is stood for by the stand-in child of its deepest created ancestor, which
/// takes the figures of all the left-out children of that ancestor. Every figure of a created node
/// then comes out as in a whole build: the stand-in of a node equals the sum of its left-out
/// children, and a time moved between two left-out nodes changes created nodes only through their
/// stand-ins, which the move reaches as it would the left-out nodes they stand for.
///
/// A walk that builds below one node of a pane built before (`path`, from the top node down to
/// it) creates only that node's ancestors and what lies below it; all else goes to the stand-ins
/// of the ancestors.
class PaneLevels {
public:
    PaneLevels(bool keyByFunction, const ButterflyLimits& limits, std::span<const ResolvedAddress> path)
        : mIndex(keyByFunction), mPath(path), mBudget(limits.NodeBudget),
          mUnlimited(path.empty() && limits.WholeLevels == ButterflyLimits::kAllLevels)
    {
        // The top node has depth 0.
        const uint32_t base = path.empty() ? 0 : static_cast<uint32_t>(path.size() - 1);
        const uint32_t levels = path.empty() ? limits.WholeLevels : std::max<uint32_t>(limits.WholeLevels, 1);
        mWholeDepth =
            levels > ButterflyLimits::kAllLevels - base ? ButterflyLimits::kAllLevels : base + levels;
    }

    /// The node of `parent`'s child with this key, created when the limits allow; else the
    /// stand-in of the left-out levels it lies in.
    CallGraphNode* Child(CallGraphNode& parent, const ResolvedAddress& function, uint64_t callerAddress)
    {
        if (mUnlimited)
            return mIndex.FindOrCreate(parent, function, callerAddress);
        if (IsUnbuiltLevels(parent))
            return &parent;
        const uint32_t depth = parent.Depth + 1;
        if (depth < mPath.size()) {
            if (function == mPath[depth]) // the same function, whatever its flags
                return mIndex.FindOrCreate(parent, function, callerAddress);
            return Unbuilt(parent);
        }
        if (depth <= mWholeDepth || mCreated < mBudget) {
            const uint32_t before = parent.Children.size();
            CallGraphNode* child = mIndex.FindOrCreate(parent, function, callerAddress);
            if (depth > mWholeDepth && parent.Children.size() != before)
                ++mCreated;
            return child;
        }
        if (CallGraphNode* child = mIndex.Find(parent, function, callerAddress))
            return child;
        return Unbuilt(parent);
    }

private:
    CallGraphNode* Unbuilt(CallGraphNode& parent)
    {
        auto [at, inserted] = mUnbuilt.try_emplace(&parent, nullptr);
        if (inserted)
            at->second = parent.AddChild(kUnbuiltFunction, kUnbuiltCallerAddress);
        return at->second;
    }

    ChildIndex mIndex;
    std::span<const ResolvedAddress> mPath;
    std::size_t mBudget;
    std::size_t mCreated = 0;
    uint32_t mWholeDepth = 0;
    bool mUnlimited;
    std::unordered_map<const CallGraphNode*, CallGraphNode*> mUnbuilt;
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
///
/// Either pane may be limited (PaneLevels), and a later walk builds below one node left out into
/// a graph of its own, with the same figures.
class ButterflyBuilder {
public:
    /// Either graph may be null when only the other one is wanted. `path`: see PaneLevels.
    ButterflyBuilder(const ResolvedAddress& function, const FunctionScope& scope, CalledByGraph* calledBy,
                     CallGraph* calls, const std::atomic<bool>& canceled, const ButterflyLimits& limits,
                     std::span<const ResolvedAddress> path = {})
        : mFunction(function), mScope(scope), mCalls(calls), mCanceled(canceled),
          mCallsLevels(true, limits, path), mCallers(false, limits, path)
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
        Enter(start, {}, false);
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
            // May grow the stack: `frame` is not used after.
            Enter(child, frame.Pane, frame.Inside);
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

    /// The frame of `node`'s function when the function is on the path inside the occurrence,
    /// else null. Every frame of one function there maps to the same pane node.
    const Frame* FindOnPath(const CallGraphNode& node, uint32_t bucket) const
    {
        const Bucket& entry = mBuckets[bucket];
        if (entry.Count == 0)
            return nullptr;
        const ResolvedAddress function = node.GetFunction();
        if (mStack[entry.Outermost].Source->HasFunction(function))
            return &mStack[entry.Outermost];
        // Another function shares the bucket: look along the path.
        for (std::size_t i = mStack.size(); i-- > 0 && mStack[i].Inside;)
            if (mStack[i].Source->HasFunction(function))
                return &mStack[i];
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
        if (const Frame* outerFrame = FindOnPath(node, bucket)) {
            // A re-entry folds onto the outermost occurrence of its function.
            CallGraphNode* outer = outerFrame->Pane;
            if (!IsUnbuiltLevels(*outer))
                outer->MergeSamples(node.AddressSamples.Span());
            if (outer != parentPane)
                MoveTime(*parentPane, *outer, node.StateTimes);
            Push(node, outer, bucket);
            return;
        }
        CallGraphNode* pane = mCallsLevels.Child(*parentPane, node.GetFunction(), node.CallerAddress);
        // Within left-out levels the stand-in holds this node's time already.
        if (pane != parentPane)
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
                CallGraphNode* next = mCallers.Child(*target, caller->GetFunction(), kUnknownCallerAddress);
                if (next == target)
                    break; // the rest of the chain lies in left-out levels
                // Callers shallower than the start node lie above the custom root.
                CalledByGraphNode::From(*next).WithinCustomRoot =
                    mScope.Counts(*caller) && caller->Depth >= mStartDepth;
                mChain.push_back(next);
                target = next;
            }
        }
        mCalledByTop->AddTimes(delta);
        for (CallGraphNode* caller : mChain)
            caller->AddTimes(delta);
    }

    static void AddFigures(CallGraphNode& pane, const CallGraphNode& node)
    {
        pane.AddTimes(node.StateTimes);
        // A stand-in's samples would never be shown.
        if (!IsUnbuiltLevels(pane))
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
    PaneLevels mCallsLevels; ///< pane nodes are keyed by function alone
    PaneLevels mCallers;
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

bool IsUnbuiltLevels(const CallGraphNode& node)
{
    return node.HasKey(kUnbuiltFunction, kUnbuiltCallerAddress);
}

const CallGraphNode* FindUnbuiltLevels(const CallGraphNode& node)
{
    // Left-out children come after the ones built, so the stand-in is mostly the last child.
    for (uint32_t i = node.Children.size(); i-- > 0;)
        if (IsUnbuiltLevels(*node.Children[i]))
            return node.Children[i];
    return nullptr;
}

bool BuildButterfly(const CallGraphNode& root, const ResolvedAddress& function, const FunctionScope& scope,
                    CalledByGraph* calledBy, CallGraph* calls, const std::atomic<bool>& canceled,
                    const ButterflyLimits& limits)
{
    ButterflyBuilder builder(function, scope, calledBy, calls, canceled, limits);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath))
        if (!builder.Walk(*start))
            return false;
    return true;
}

bool BuildButterflyLevels(const CallGraphNode& root, const ResolvedAddress& function,
                          const FunctionScope& scope, std::span<const ResolvedAddress> path,
                          CalledByGraph* calledBy, CallGraph* calls, const ButterflyLimits& limits,
                          const std::atomic<bool>& canceled)
{
    if (path.empty())
        return true;
    ButterflyBuilder builder(function, scope, calledBy, calls, canceled, limits, path);
    for (const CallGraphNode* start : FindStartNodes(root, scope.CustomRootPath))
        if (!builder.Walk(*start))
            return false;
    return true;
}

std::vector<ResolvedAddress> GetButterflyPath(const CallGraphNode& node)
{
    std::vector<ResolvedAddress> path;
    for (const CallGraphNode* at = &node; !at->IsRoot(); at = at->Parent)
        path.push_back(at->GetFunction());
    std::reverse(path.begin(), path.end());
    return path;
}

const CallGraphNode* FindButterflyPath(const CallGraphNode& root, std::span<const ResolvedAddress> path)
{
    const CallGraphNode* node = &root;
    for (const ResolvedAddress& function : path) {
        node = node->FindChild(function);
        if (node == nullptr)
            return nullptr;
    }
    return node;
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
