#pragma once

#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/MultiOpenBarProcessor.h"

#include <memory>
#include <vector>

namespace Profiler {

class CallGraph;

/// A multi processor whose threads' closed bars all go into one call graph, so the threads are
/// merged at its root.
class CallGraphMultiOpenBarProcessor : public MultiOpenBarProcessor {
public:
    CallGraphMultiOpenBarProcessor(std::unique_ptr<ITraceEventSource> source, CallGraph& target);
    ~CallGraphMultiOpenBarProcessor() override;

    /// Routes the processor's closed bars into the target, then adds it to the set.
    void AddProcessor(std::unique_ptr<OpenBarProcessor> processor) override;

    CallGraph& GetTarget() const { return *mTarget; }
    /// Routes every processor into `target` from now on.
    void SetTarget(CallGraph& target);

private:
    CallGraph* mTarget;                    // not owned
    std::shared_ptr<ChildIndex> mChildren; ///< shared by the routers, which all fill the target
    std::vector<std::unique_ptr<CallGraphOpenBarProcessorRouter>> mRouters;
};

} // namespace Profiler
