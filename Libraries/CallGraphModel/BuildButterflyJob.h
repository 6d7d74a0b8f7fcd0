#pragma once

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/FunctionScope.h"
#include "System/Job.h"

#include <functional>
#include <memory>
#include <vector>

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

/// The levels below one butterfly row that the butterfly job left out, in a graph of their own
/// (see BuildButterflyLevels); shared like the butterfly's graphs.
struct ButterflyLevels {
    std::shared_ptr<CallGraph> Graph;    ///< a CalledByGraph below a called-by row
    const CallGraphNode* Node = nullptr; ///< the row's node in Graph
};

/// Receives the levels on the job's thread; null when the job was canceled.
using BuildButterflyLevelsCompletion = std::function<void(std::unique_ptr<ButterflyLevels>)>;

/// Builds the left-out children of one butterfly row on the job scheduler: each build walks the
/// whole source graph.
class BuildButterflyLevelsJob : public System::Job {
public:
    /// The row's children whole, then what the budget allows below them, so that the rows opened
    /// next mostly need no job.
    static constexpr ButterflyLimits kLimits{1, 32 * 1024};

    /// `path`: the row's node and its ancestors (GetButterflyPath); `calledBy`: the row is in the
    /// called-by pane. The manager (not owned) must outlive the graph.
    BuildButterflyLevelsJob(FunctionQuery query, const ResolvedAddress& function, bool calledBy,
                            std::vector<ResolvedAddress> path, CallGraphManager& manager);
    ~BuildButterflyLevelsJob() override;

    /// Schedules a levels job; `completion` runs once, when the job completes or is canceled.
    static System::JobHandle Start(System::JobScheduler& scheduler, FunctionQuery query,
                                   const ResolvedAddress& function, bool calledBy,
                                   std::vector<ResolvedAddress> path, CallGraphManager& manager,
                                   BuildButterflyLevelsCompletion completion);

    std::unique_ptr<ButterflyLevels> TakeResult() { return std::move(mResult); }

private:
    void Run(const std::atomic<bool>& canceled);

    FunctionQuery mQuery;
    ResolvedAddress mFunction;
    bool mCalledBy;
    std::vector<ResolvedAddress> mPath;
    CallGraphManager& mManager;
    std::unique_ptr<ButterflyLevels> mResult;
};

} // namespace Profiler
