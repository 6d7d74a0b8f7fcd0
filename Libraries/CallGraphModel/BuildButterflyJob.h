#pragma once

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/FunctionScope.h"
#include "System/Job.h"

#include <functional>
#include <memory>

namespace System {
class JobScheduler;
}

namespace Profiler {

class CallGraph;
class CallGraphManager;
class CalledByGraph;

/// The butterfly of one function: who calls it, and what it calls (recursion folded, call sites
/// merged). The graphs are shared; their last owner hands them to the call graph manager.
struct ButterflyGraphs {
    std::shared_ptr<CalledByGraph> CalledBy;
    std::shared_ptr<CallGraph> Calls;
    /// Builds the levels that the job left out of large panes, as a view opens them.
    std::shared_ptr<ButterflyLevelBuilder> Levels;
};

/// Receives the graphs on the job's thread; null when the job was canceled.
using BuildButterflyCompletion = std::function<void(std::unique_ptr<ButterflyGraphs>)>;

/// Builds the called-by and calls graphs of a selected function on the job scheduler.
class BuildButterflyJob : public System::Job {
public:
    /// What the job builds: the top node and its children whole (the view opens the top node at
    /// once), then what the budget allows; panes of up to the budget are built whole. The pane of
    /// a function that calls into most of a large graph would otherwise be as large as the graph,
    /// and the first one of a process would wait for the system to hand out hundreds of megabytes
    /// of fresh pages.
    static constexpr ButterflyLimits kFirstLimits{1, 32 * 1024};
    /// What opening a node builds below it: its children and theirs, so that opening one of them
    /// next needs no walk (its siblings' children come with them). Each opening walks the whole
    /// source graph on the UI thread, so it builds no more than that.
    static constexpr ButterflyLimits kLevelLimits{2, 0};

    /// The manager (not owned) must outlive the graphs.
    BuildButterflyJob(FunctionQuery query, const ResolvedAddress& function, CallGraphManager& manager);
    ~BuildButterflyJob() override;

    /// Schedules a butterfly job; `completion` runs once, when the job completes or is canceled.
    static System::JobHandle Start(System::JobScheduler& scheduler, FunctionQuery query,
                                   const ResolvedAddress& function, CallGraphManager& manager,
                                   BuildButterflyCompletion completion);

    std::unique_ptr<ButterflyGraphs> TakeResult() { return std::move(mResult); }

private:
    void Run(const std::atomic<bool>& canceled);

    FunctionQuery mQuery;
    ResolvedAddress mFunction;
    CallGraphManager& mManager;
    std::unique_ptr<ButterflyGraphs> mResult;
};

} // namespace Profiler
