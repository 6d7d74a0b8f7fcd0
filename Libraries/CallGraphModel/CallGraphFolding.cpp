#include "CallGraphModel/CallGraphFolding.h"

#include "CallGraphModel/ChildIndex.h"

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionIndexMap.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <vector>

namespace Profiler {

namespace {

class Folder {
public:
    Folder(const RecursionRootSet& roots, bool recording, const std::atomic<bool>& canceled)
        : mRoots(roots), mRecording(recording), mCanceled(canceled)
    {}

    void Fold(const CallGraphNode& source, CallGraphNode& foldedParent)
    {
        if (mCanceled.load(std::memory_order_relaxed))
            return;
        CallGraphNode* folded = &foldedParent;
        uint32_t entryIndex = 0;
        bool createdEntry = false;
        bool openedRecursion = false;
        if (!source.IsRoot()) {
            folded = foldedParent.AddChild(source.GetFunction(), source.CallerAddress);
            folded->CopyFigures(source);
            const auto [index, inserted] = mPath.FindOrInsert(source.GetFunction());
            if (inserted)
                mEntries.emplace_back();
            entryIndex = index;
            Entry& entry = mEntries[index];
            if (entry.onPath) {
                entry.recurs = true;
            } else {
                entry = {nullptr, false, true};
                createdEntry = true;
            }
            if (entry.target == nullptr && mRoots.contains(&source)) {
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
        Entry& entry = mEntries[entryIndex];
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

    const RecursionRootSet& mRoots;
    const bool mRecording;
    const std::atomic<bool>& mCanceled;
    FunctionIndexMap mPath;
    std::vector<Entry> mEntries;
};

class Merger {
public:
    Merger(bool recording, const std::atomic<bool>& canceled) : mRecording(recording), mCanceled(canceled) {}

    void Merge(const CallGraphNode& folded, CallGraphNode& merged)
    {
        if (mCanceled.load(std::memory_order_relaxed))
            return;
        merged.AddTimes(folded.StateTimes);
        merged.MergeSamples(folded.AddressSamples.Span());
        MergedCallGraphNode& record = MergedCallGraphNode::From(merged);
        if (mRecording)
            record.Sources.PushBack(merged.GetArena(), &folded);

        uint32_t entryIndex = 0;
        bool insertedEntry = false;
        if (!folded.IsRoot()) {
            const auto [index, inserted] = mPath.FindOrInsert(folded.GetFunction());
            if (inserted)
                mEntries.emplace_back();
            entryIndex = index;
            Entry& entry = mEntries[index];
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
            Entry& entry = mEntries[entryIndex];
            recursive = entry.recurs;
            entry.onPath = false;
        }
        record.Recursive = record.Recursive || recursive;
    }

private:
    struct Entry {
        bool recurs = false;
        bool onPath = false;
    };

    const bool mRecording;
    const std::atomic<bool>& mCanceled;
    FunctionIndexMap mPath;
    std::vector<Entry> mEntries;
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
    Merger(recording, canceled).Merge(folded.GetRoot(), merged->GetRoot());
}

} // namespace Profiler
