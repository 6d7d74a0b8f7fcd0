#include "CallGraphModel/BuildCallGraphJob.h"

#include "CallGraphModel/CallGraphQuery.h"
#include "System/JobScheduler.h"

#include <atomic>
#include <limits>

namespace Profiler {

BuildCallGraphJob::BuildCallGraphJob(const CallGraphModel& model,
                                     std::unique_ptr<CallGraphModel::GetCallGraphOperation> request)
    : System::Job(nullptr), mModel(model), mRequest(std::move(request))
{}

void BuildCallGraphJob::Run(const std::atomic<bool>& canceled)
{
    mRequest->Started();
    mResult = BuildCallGraph(mModel, *mRequest, mRequest->mErrors, canceled);
    if (canceled.load(std::memory_order_relaxed))
        mResult.reset();
}

void BuildCallGraphJob::Finalize(System::EJobFinalizationState state)
{
    if (state == System::EJobFinalizationState::Completed) {
        mRequest->Completed(std::move(mResult), false);
    } else if (state == System::EJobFinalizationState::Canceled) {
        mResult.reset();
        mRequest->Completed(nullptr, true);
    }
}

namespace {

/// A group of a caller's requests. Fresh scheduler groups cannot be named again by a later
/// description, so requests take their groups from a range of their own below 2^31.
int NewRequestGroup()
{
    static std::atomic<int> next{0x40000000};
    const int group = next.fetch_add(1, std::memory_order_relaxed);
    if (group == std::numeric_limits<int>::max())
        next.store(0x40000000, std::memory_order_relaxed);
    return group;
}

} // namespace

System::JobHandle CallGraphModel::GetCallGraph(std::unique_ptr<GetCallGraphOperation> request,
                                               const System::JobHandle& previous)
{
    if (mContext.Scheduler == nullptr) {
        // Nothing can run the request: it ends as a refused one does.
        request->Completed(nullptr, true);
        return {};
    }
    System::JobScheduler& scheduler = *mContext.Scheduler;
    if (previous.IsValid())
        scheduler.CancelAndWait(System::ECancelMode::Group, previous);
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<BuildCallGraphJob&>(job).Run(canceled);
    };
    description.finalization = [](System::EJobFinalizationState state, System::Job& job) {
        static_cast<BuildCallGraphJob&>(job).Finalize(state);
    };
    description.groupId = previous.IsValid() ? static_cast<int>(previous.group) : NewRequestGroup();
    description.tag = ~0u;
    description.priority = 1;
    description.detached = false;
    return scheduler.Schedule(std::move(description),
                              std::make_unique<BuildCallGraphJob>(*this, std::move(request)));
}

} // namespace Profiler
