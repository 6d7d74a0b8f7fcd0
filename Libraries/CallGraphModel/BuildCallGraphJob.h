#pragma once

#include "CallGraphModel/CallGraphModel.h"
#include "System/Job.h"

#include <memory>

namespace Profiler {

/// Builds the graph of one call graph request on the job scheduler and hands it to the request
/// when the job is finalized.
class BuildCallGraphJob final : public System::Job {
public:
    BuildCallGraphJob(const CallGraphModel& model,
                      std::unique_ptr<CallGraphModel::GetCallGraphOperation> request);

    /// The work function: tells the request it started, then builds the result.
    void Run(const std::atomic<bool>& canceled);
    /// Completed: the result goes to the request; canceled: the request gets none; a cancel
    /// request alone calls nothing.
    void Finalize(System::EJobFinalizationState state);

    CallGraphModel::GetCallGraphOperation& GetRequest() { return *mRequest; }

private:
    const CallGraphModel& mModel;
    std::unique_ptr<CallGraph> mResult;
    std::unique_ptr<CallGraphModel::GetCallGraphOperation> mRequest;
};

} // namespace Profiler
