#include "CallGraphModel/FunctionTimingJob.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/IAddressLineMap.h"
#include "System/JobScheduler.h"

namespace Profiler {

FunctionTimingJob::FunctionTimingJob(FunctionQuery query, const ResolvedAddress& function,
                                     std::shared_ptr<const IAddressLineMap> lines)
    : System::Job(nullptr), mQuery(std::move(query)), mFunction(function), mLines(std::move(lines))
{}

System::JobHandle FunctionTimingJob::Start(System::JobScheduler& scheduler, FunctionQuery query,
                                           const ResolvedAddress& function,
                                           std::shared_ptr<const IAddressLineMap> lines,
                                           FunctionTimingCompletion completion)
{
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<FunctionTimingJob&>(job).Run(canceled);
    };
    description.finalization = [completion = std::move(completion)](System::EJobFinalizationState state,
                                                                    System::Job& job) {
        if (state == System::EJobFinalizationState::Completed)
            completion(static_cast<FunctionTimingJob&>(job).TakeResult());
        else if (state == System::EJobFinalizationState::Canceled)
            completion(nullptr);
    };
    return scheduler.Schedule(std::move(description), std::make_unique<FunctionTimingJob>(
                                                          std::move(query), function, std::move(lines)));
}

void FunctionTimingJob::Run(const std::atomic<bool>& canceled)
{
    if (mQuery.Graph == nullptr)
        return;
    auto info = std::make_unique<FunctionTimingInfo>();
    if (!ComputeFunctionTiming(mQuery.Graph->GetRoot(), mFunction, mQuery.Scope, *info, canceled))
        return;
    if (mLines != nullptr)
        MapAddressesToLines(*info, *mLines);
    mResult = std::move(info);
}

} // namespace Profiler
