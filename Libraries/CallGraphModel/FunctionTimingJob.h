#pragma once

#include "CallGraphModel/FunctionScope.h"
#include "CallGraphModel/FunctionTiming.h"
#include "System/Job.h"

#include <functional>
#include <memory>

namespace System {
class JobScheduler;
}

namespace Profiler {

class IAddressLineMap;

/// Receives the timing on the job's thread; null when the job was canceled.
using FunctionTimingCompletion = std::function<void(std::unique_ptr<FunctionTimingInfo>)>;

/// Computes one function's timing on the job scheduler and maps it to lines when the function's
/// line data is already at hand (resolving it is the caller's business).
class FunctionTimingJob : public System::Job {
public:
    /// `lines` may be null: the result then has address entries only.
    FunctionTimingJob(FunctionQuery query, const ResolvedAddress& function,
                      std::shared_ptr<const IAddressLineMap> lines);

    static System::JobHandle Start(System::JobScheduler& scheduler, FunctionQuery query,
                                   const ResolvedAddress& function,
                                   std::shared_ptr<const IAddressLineMap> lines,
                                   FunctionTimingCompletion completion);

    std::unique_ptr<FunctionTimingInfo> TakeResult() { return std::move(mResult); }

private:
    void Run(const std::atomic<bool>& canceled);

    FunctionQuery mQuery;
    ResolvedAddress mFunction;
    std::shared_ptr<const IAddressLineMap> mLines;
    std::unique_ptr<FunctionTimingInfo> mResult;
};

} // namespace Profiler
