#include "CallGraphModel/BuildListJob.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "System/JobScheduler.h"

namespace Profiler {

BuildListJob::BuildListJob(FunctionQuery query, std::shared_ptr<const IFunctionInfoProvider> functions)
    : System::Job(nullptr), mQuery(std::move(query)), mFunctions(std::move(functions))
{}

System::JobHandle BuildListJob::Start(System::JobScheduler& scheduler, FunctionQuery query,
                                      std::shared_ptr<const IFunctionInfoProvider> functions,
                                      BuildListCompletion completion)
{
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<BuildListJob&>(job).Run(canceled);
    };
    description.finalization = [completion = std::move(completion)](System::EJobFinalizationState state,
                                                                    System::Job& job) {
        if (state == System::EJobFinalizationState::Completed)
            completion(static_cast<BuildListJob&>(job).TakeResult());
        else if (state == System::EJobFinalizationState::Canceled)
            completion(nullptr);
    };
    return scheduler.Schedule(std::move(description),
                              std::make_unique<BuildListJob>(std::move(query), std::move(functions)));
}

void BuildListJob::Run(const std::atomic<bool>& canceled)
{
    auto data = std::make_unique<BuildListData>();
    if (mQuery.Graph == nullptr ||
        !BuildFunctionList(mQuery.Graph->GetRoot(), mQuery.Scope, data->Items, canceled))
        return;
    data->DisplayRecords.reserve(data->Items.size());
    for (const auto& item : data->Items) {
        if (mFunctions != nullptr)
            data->DisplayRecords.push_back(
                {mFunctions->GetFunctionName(item->Function), mFunctions->GetModuleName(item->Function)});
        else
            data->DisplayRecords.emplace_back();
        if (canceled.load(std::memory_order_relaxed))
            return;
    }
    mResult = std::move(data);
}

} // namespace Profiler
