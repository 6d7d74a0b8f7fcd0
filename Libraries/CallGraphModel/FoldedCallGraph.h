#pragma once

#include "CallGraphModel/CallGraph.h"

namespace Profiler {

enum class EFoldState : uint8_t {
    /// A recursive re-entry folded beside the root of its recursion, or the root of a folded recursion.
    Folded = 0,
    /// Not folded, but the function occurs again deeper on the same path.
    Foldable = 1,
    None = 2,
};

struct FoldedCallGraphNode : CallGraphNode {
    const CallGraphNode* SourceNode = nullptr; ///< the node copied (recording mode only); not owned
    EFoldState FoldState = EFoldState::None;   ///< set in recording mode only

    static FoldedCallGraphNode& From(CallGraphNode& node) { return static_cast<FoldedCallGraphNode&>(node); }
    static const FoldedCallGraphNode& From(const CallGraphNode& node)
    {
        return static_cast<const FoldedCallGraphNode&>(node);
    }
};

/// A call graph with every recursive re-entry moved beside the outermost occurrence.
class FoldedCallGraph : public CallGraph {
public:
    FoldedCallGraph();
};

} // namespace Profiler
