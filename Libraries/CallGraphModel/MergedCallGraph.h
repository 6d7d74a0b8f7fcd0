#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/NodeArena.h"

namespace Profiler {

struct MergedCallGraphNode : CallGraphNode {
    /// A merged folded node was a re-entry of a function on its path, or had one below it.
    bool Recursive = false;
    /// The folded nodes merged into this one, in merge order (recording mode only); not owned.
    NodeArray<const CallGraphNode*> Sources;

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
