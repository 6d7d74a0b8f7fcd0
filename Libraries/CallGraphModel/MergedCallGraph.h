#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/NodeArena.h"

#include <cstdint>

namespace Profiler {

/// A node of the source graph merged into a merged node, with what folding did to it, in one
/// word (nodes are aligned, so the state fits in the pointer's low bits). Pointing at the source
/// graph rather than the folded copy lets the copy go once the merge is done.
class MergedSource {
public:
    MergedSource(const CallGraphNode* node, EFoldState state)
        : mBits(reinterpret_cast<uintptr_t>(node) | static_cast<uintptr_t>(state))
    {}

    const CallGraphNode* Node() const { return reinterpret_cast<const CallGraphNode*>(mBits & ~kStateMask); }
    EFoldState State() const { return static_cast<EFoldState>(mBits & kStateMask); }
    void SetState(EFoldState state) { mBits = (mBits & ~kStateMask) | static_cast<uintptr_t>(state); }

private:
    static constexpr uintptr_t kStateMask = 3;
    static_assert(alignof(CallGraphNode) > kStateMask);

    uintptr_t mBits;
};

struct MergedCallGraphNode : CallGraphNode {
    /// A merged folded node was a re-entry of a function on its path, or had one below it.
    bool Recursive = false;
    /// The source nodes merged into this one, in merge order (recording mode only); not owned.
    NodeArray<MergedSource> Sources;

    static MergedCallGraphNode& From(CallGraphNode& node) { return static_cast<MergedCallGraphNode&>(node); }
    static const MergedCallGraphNode& From(const CallGraphNode& node)
    {
        return static_cast<const MergedCallGraphNode&>(node);
    }
};

inline void ReleaseExtraArrays(MergedCallGraphNode& node, NodeArena& arena)
{
    node.Sources.Release(arena);
}

/// The folded graph with the nodes of one function under one parent merged, whatever the call site.
class MergedCallGraph : public CallGraph {
public:
    MergedCallGraph();
};

} // namespace Profiler
