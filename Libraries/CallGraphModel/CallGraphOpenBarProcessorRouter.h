#pragma once

#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/OpenBar.h"
#include "Utility/SignalRegistration.h"

#include <memory>
#include <span>
#include <vector>

namespace Profiler {

class CallGraph;
class OpenBarProcessor;
struct CallGraphNode;

/// Turns the bars that a processor closes into the nodes of a call graph: keeps the node of
/// every open bar (the path) so that a closed bar's time and samples go to the node of its call
/// path, created on first use.
class CallGraphOpenBarProcessorRouter {
public:
    /// Subscribes to `processor`'s bar-closing signal; closed bars go into `target`. The
    /// processor must outlive the router. Routers that fill the same graph must share one child
    /// index (null: the router is the graph's only one and makes its own).
    CallGraphOpenBarProcessorRouter(OpenBarProcessor& processor, CallGraph& target,
                                    std::shared_ptr<ChildIndex> children = nullptr);
    CallGraphOpenBarProcessorRouter(const CallGraphOpenBarProcessorRouter&) = delete;
    CallGraphOpenBarProcessorRouter& operator=(const CallGraphOpenBarProcessorRouter&) = delete;

    /// Routes into `target` from now on, starting with an empty path.
    void SetTarget(CallGraph& target, std::shared_ptr<ChildIndex> children = nullptr);
    CallGraph& GetTarget() const { return *mTarget; }

    /// What the bar-closing signal calls (the reporting arguments are not used).
    void OnBarsClosed(std::span<const OpenBar> bars, int firstClosed);

private:
    Utility::SignalRegistration mRegistration;
    CallGraph* mTarget;                // not owned
    std::vector<CallGraphNode*> mPath; ///< entry i: the node of open bar i
    /// Finds children of wide nodes quickly; valid because only the routers that share it add
    /// children to the target while they route there.
    std::shared_ptr<ChildIndex> mChildren;
};

} // namespace Profiler
