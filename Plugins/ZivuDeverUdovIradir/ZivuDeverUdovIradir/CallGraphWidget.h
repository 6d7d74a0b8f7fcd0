#pragma once

#include "ProfilerLibUI/ThreadTree.h"
#include "ZivuDeverUdovIradir/CallGraphPanels.h"

#include <vector>

namespace Profiler {

class ThreadSelectorWidget;

/// The call graph panel: the thread selector of the view and the graph's summary.
class CallGraphWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes, bool mergeProcesses);

    /// The ids of every thread the panel lists, in its order.
    std::vector<ThreadID> GetAllThreadIds() const;
    ThreadSelectorWidget* GetThreadSelector() const { return mThreadSelector; }
    void SetCallGraph(const CallGraphInputParameters& parameters,
                      std::shared_ptr<const CallGraph> graph) override;
    void Activate() override;

private:
    ThreadSelectorWidget* mThreadSelector;
};

} // namespace Profiler
