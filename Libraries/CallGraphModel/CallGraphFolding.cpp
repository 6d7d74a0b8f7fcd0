#include "CallGraphModel/CallGraphFolding.h"

#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionMap.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <vector>

namespace Profiler {

namespace {

/// The recursion roots as an open-addressed pointer set: one probe per lookup on the hot path.
class NodeSet {
public:
    explicit NodeSet(const RecursionRootSet& nodes)
    {
        std::size_t capacity = 16;
        while (capacity < nodes.size() * 2)
            capacity *= 2;
        mSlots.assign(capacity, nullptr);
        for (const CallGraphNode* node : nodes) {
            std::size_t i = Hash(node) & (capacity - 1);
            while (mSlots[i] != nullptr)
                i = (i + 1) & (capacity - 1);
            mSlots[i] = node;
        }
    }

    bool Contains(const CallGraphNode* node) const
    {
        const std::size_t mask = mSlots.size() - 1;
        for (std::size_t i = Hash(node) & mask; mSlots[i] != nullptr; i = (i + 1) & mask)
            if (mSlots[i] == node)
                return true;
        return false;
    }

private:
    static std::size_t Hash(const CallGraphNode* node)
    {
        uint64_t value = reinterpret_cast<uintptr_t>(node);
        value ^= value >> 33;
        value *= 0xff51afd7ed558ccdull;
        return static_cast<std::size_t>(value ^ (value >> 33));
    }

    std::vector<const CallGraphNode*> mSlots;
};

class Folder {
public:
    Folder(const RecursionRootSet& roots, bool recording, const std::atomic<bool>& canceled)
        : mRoots(roots), mRecording(recording), mCanceled(canceled)
    {
        // Only nodes of functions that have a recursion root need a look into the root set.
        for (const CallGraphNode* root : roots)
            mPath.FindOrInsert(root->GetFunction()).hasRoots = true;
    }

    void Fold(const CallGraphNode& source, CallGraphNode& foldedParent)
    {
        if (mCanceled.load(std::memory_order_relaxed))
            return;
        CallGraphNode* folded = &foldedParent;
        uint32_t slot = 0;
        uint32_t generation = 0;
        bool createdEntry = false;
        bool openedRecursion = false;
        if (!source.IsRoot()) {
            folded = foldedParent.AddChild(source.GetFunction(), source.CallerAddress);
            folded->CopyFigures(source);
            bool inserted = false;
            slot = mPath.FindOrInsertSlot(source.GetFunction(), inserted);
            generation = mPath.GetGeneration();
            Entry& entry = mPath[slot];
            if (entry.onPath) {
                entry.recurs = true;
            } else {
                entry.target = nullptr;
                entry.recurs = false;
                entry.onPath = true;
                createdEntry = true;
            }
            if (entry.target == nullptr && entry.hasRoots && mRoots.Contains(&source)) {
                entry.target = folded;
                openedRecursion = true;
            }
        }

        for (const CallGraphNode* child : source.Children) {
            Fold(*child, *folded);
            if (mCanceled.load(std::memory_order_relaxed))
                return;
        }

        if (source.IsRoot())
            return;
        if (generation != mPath.GetGeneration())
            slot = mPath.FindSlot(source.GetFunction());
        Entry& entry = mPath[slot];
        EFoldState state = EFoldState::None;
        if (openedRecursion) {
            entry.target = nullptr;
            state = EFoldState::Folded;
        } else if (entry.target != nullptr) {
            MoveBesideRecursionRoot(*folded, *entry.target);
            state = EFoldState::Folded;
        }
        if (entry.recurs && state != EFoldState::Folded)
            state = EFoldState::Foldable;
        if (createdEntry)
            entry.onPath = false;
        if (mRecording) {
            FoldedCallGraphNode& record = FoldedCallGraphNode::From(*folded);
            record.SourceNode = &source;
            record.FoldState = state;
        }
    }

private:
    struct Entry {
        CallGraphNode* target = nullptr; ///< folded node of the recursion root, while inside it
        bool recurs = false;             ///< the function occurred again deeper on the path
        bool onPath = false;
        bool hasRoots = false; ///< some recursion root is a node of this function
    };

    /// Moves a re-entry beside its recursion root; the frames it leaves lose its time. A moved
    /// node keeps its depth.
    static void MoveBesideRecursionRoot(CallGraphNode& node, const CallGraphNode& recursionRoot)
    {
        CallGraphNode* oldParent = node.Parent;
        CallGraphNode* newParent = recursionRoot.Parent;
        oldParent->RemoveChild(&node);
        newParent->AppendChild(&node);
        node.CallerAddress = recursionRoot.CallerAddress;
        for (CallGraphNode* frame = oldParent; frame != nullptr && frame != newParent; frame = frame->Parent)
            frame->SubtractTimes(node.StateTimes);
    }

    const NodeSet mRoots;
    const bool mRecording;
    const std::atomic<bool>& mCanceled;
    FunctionMap<Entry> mPath;
};

/// Merges a folded graph, or with no recursion to fold the source graph itself (folding it would
/// copy it unchanged): the walk is the same, and the fold state of a source node, which a folded
/// copy would carry, is then whether its function recurs on its path, as the merge finds anyway.
class Merger {
public:
    Merger(bool recording, bool fromSource, const std::atomic<bool>& canceled)
        : mRecording(recording), mFromSource(fromSource), mCanceled(canceled)
    {}

    void Merge(const CallGraphNode& folded, CallGraphNode& merged)
    {
        if (mCanceled.load(std::memory_order_relaxed))
            return;
        merged.AddTimes(folded.StateTimes);
        merged.MergeSamples(folded.AddressSamples.Span());
        MergedCallGraphNode& record = MergedCallGraphNode::From(merged);
        uint32_t sourceIndex = 0;
        if (mRecording) {
            sourceIndex = record.Sources.size();
            record.Sources.PushBack(merged.GetArena(), SourceOf(folded));
        }

        uint32_t slot = 0;
        uint32_t generation = 0;
        bool insertedEntry = false;
        if (!folded.IsRoot()) {
            bool inserted = false;
            slot = mPath.FindOrInsertSlot(folded.GetFunction(), inserted);
            generation = mPath.GetGeneration();
            Entry& entry = mPath[slot];
            if (entry.onPath) {
                entry.recurs = true; // this node re-enters a function already on the path
            } else {
                entry = {false, true};
                insertedEntry = true;
            }
        }

        for (const CallGraphNode* child : folded.Children) {
            CallGraphNode* mergedChild =
                mMergedChildren.FindOrCreate(merged, child->GetFunction(), child->CallerAddress);
            Merge(*child, *mergedChild);
            if (mCanceled.load(std::memory_order_relaxed))
                return;
        }

        if (folded.IsRoot())
            return;
        bool recursive = true;
        if (insertedEntry) {
            if (generation != mPath.GetGeneration())
                slot = mPath.FindSlot(folded.GetFunction());
            Entry& entry = mPath[slot];
            recursive = entry.recurs;
            entry.onPath = false;
        }
        record.Recursive = record.Recursive || recursive;
        if (mRecording && mFromSource && recursive)
            record.Sources[sourceIndex].SetState(EFoldState::Foldable);
    }

private:
    struct Entry {
        bool recurs = false;
        bool onPath = false;
    };

    MergedSource SourceOf(const CallGraphNode& node) const
    {
        if (node.IsRoot())
            return {nullptr, EFoldState::None};
        if (mFromSource)
            return {&node, EFoldState::None}; // Foldable is set on the way out
        const FoldedCallGraphNode& folded = FoldedCallGraphNode::From(node);
        return {folded.SourceNode, folded.FoldState};
    }

    const bool mRecording;
    const bool mFromSource;
    const std::atomic<bool>& mCanceled;
    FunctionMap<Entry> mPath;
    ChildIndex mMergedChildren{true}; ///< merged nodes are keyed by function alone
};

} // namespace

void FoldAndMerge(const CallGraphNode& sourceRoot, const RecursionRootSet& recursionRoots,
                  FoldedCallGraph& folded, MergedCallGraph* merged, bool recording,
                  const std::atomic<bool>& canceled)
{
    Folder(recursionRoots, recording, canceled).Fold(sourceRoot, folded.GetRoot());
    if (merged == nullptr || canceled.load(std::memory_order_relaxed))
        return;
    Merger(recording, false, canceled).Merge(folded.GetRoot(), merged->GetRoot());
}

void MergeUnfolded(const CallGraphNode& sourceRoot, MergedCallGraph& merged, const std::atomic<bool>& canceled)
{
    Merger(true, true, canceled).Merge(sourceRoot, merged.GetRoot());
}

} // namespace Profiler
