#pragma once

#include "CallGraphModel/CallGraph.h"

namespace Profiler {

/// A node of a called-by tree: a caller of the selected function (or the function itself).
struct CalledByGraphNode : CallGraphNode {
    /// False on callers that lie above the custom root (they are shown, but outside its scope).
    bool WithinCustomRoot = true;

    static CalledByGraphNode& From(CallGraphNode& node) { return static_cast<CalledByGraphNode&>(node); }
    static const CalledByGraphNode& From(const CallGraphNode& node)
    {
        return static_cast<const CalledByGraphNode&>(node);
    }
};

/// A function at the top and its callers below it.
class CalledByGraph : public CallGraph {
public:
    CalledByGraph();
};

} // namespace Profiler
