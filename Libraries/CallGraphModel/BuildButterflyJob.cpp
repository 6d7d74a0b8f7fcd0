#include "CallGraphModel/BuildButterflyJob.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/CalledByGraph.h"
#include "System/JobScheduler.h"

namespace Profiler {

BuildButterflyJob::BuildButterflyJob(FunctionQuery query, const ResolvedAddress& function,
                                     CallGraphManager& manager)
    : System::Job(nullptr), mQuery(std::move(query)), mFunction(function), mManager(manager)
{}

BuildButterflyJob::~BuildButterflyJob() = default;

System::JobHandle BuildButterflyJob::Start(System::JobScheduler& scheduler, FunctionQuery query,
                                           const ResolvedAddress& function, CallGraphManager& manager,
                                           BuildButterflyCompletion completion)
{
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<BuildButterflyJob&>(job).Run(canceled);
    };
    description.finalization = [completion = std::move(completion)](System::EJobFinalizationState state,
                                                                    System::Job& job) {
        if (state == System::EJobFinalizationState::Completed)
            completion(static_cast<BuildButterflyJob&>(job).TakeResult());
        else if (state == System::EJobFinalizationState::Canceled)
            completion(nullptr);
    };
    return scheduler.Schedule(std::move(description),
                              std::make_unique<BuildButterflyJob>(std::move(query), function, manager));
}

void BuildButterflyJob::Run(const std::atomic<bool>& canceled)
{
    if (mQuery.Graph == nullptr)
        return;
    // Shared from the start, so that graphs left behind by a cancel are destroyed by the manager.
    auto graphs = std::make_unique<ButterflyGraphs>();
    graphs->CalledBy = mManager.Share(std::make_unique<CalledByGraph>());
    // Large first block: the calls pane of an entry function fills its budget.
    graphs->Calls = mManager.Share(std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes));
    const CallGraphNode& root = mQuery.Graph->GetRoot();
    if (!BuildButterfly(root, mFunction, mQuery.Scope, graphs->CalledBy.get(), graphs->Calls.get(), canceled,
                        kFirstLimits))
        return;
    mResult = std::move(graphs);
}

BuildButterflyLevelsJob::BuildButterflyLevelsJob(FunctionQuery query, const ResolvedAddress& function,
                                                 bool calledBy, std::vector<ResolvedAddress> path,
                                                 CallGraphManager& manager)
    : System::Job(nullptr), mQuery(std::move(query)), mFunction(function), mCalledBy(calledBy),
      mPath(std::move(path)), mManager(manager)
{}

BuildButterflyLevelsJob::~BuildButterflyLevelsJob() = default;

System::JobHandle BuildButterflyLevelsJob::Start(System::JobScheduler& scheduler, FunctionQuery query,
                                                 const ResolvedAddress& function, bool calledBy,
                                                 std::vector<ResolvedAddress> path, CallGraphManager& manager,
                                                 BuildButterflyLevelsCompletion completion)
{
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<BuildButterflyLevelsJob&>(job).Run(canceled);
    };
    description.finalization = [completion = std::move(completion)](System::EJobFinalizationState state,
                                                                    System::Job& job) {
        if (state == System::EJobFinalizationState::Completed)
            completion(static_cast<BuildButterflyLevelsJob&>(job).TakeResult());
        else if (state == System::EJobFinalizationState::Canceled)
            completion(nullptr);
    };
    return scheduler.Schedule(std::move(description),
                              std::make_unique<BuildButterflyLevelsJob>(std::move(query), function, calledBy,
                                                                        std::move(path), manager));
}

void BuildButterflyLevelsJob::Run(const std::atomic<bool>& canceled)
{
    if (mQuery.Graph == nullptr)
        return;
    auto levels = std::make_unique<ButterflyLevels>();
    CalledByGraph* calledBy = nullptr;
    CallGraph* calls = nullptr;
    if (mCalledBy) {
        auto graph = mManager.Share(std::make_unique<CalledByGraph>());
        calledBy = graph.get();
        levels->Graph = std::move(graph);
    } else {
        levels->Graph = mManager.Share(std::make_unique<CallGraph>());
        calls = levels->Graph.get();
    }
    if (!BuildButterflyLevels(mQuery.Graph->GetRoot(), mFunction, mQuery.Scope, mPath, calledBy, calls,
                              kLimits, canceled))
        return;
    levels->Node = FindButterflyPath(levels->Graph->GetRoot(), mPath);
    mResult = std::move(levels);
}

} // namespace Profiler
