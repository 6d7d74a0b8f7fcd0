#pragma once

#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/FunctionScope.h"
#include "System/Job.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace System {
class JobScheduler;
}

namespace Profiler {

class IFunctionInfoProvider;

/// What the function list shows for an item besides its figures.
struct FunctionDisplayRecord {
    std::string FunctionName;
    std::string ModuleName;
};

/// The list job's result: the items, largest total inclusive time first, and one display record
/// per item in the same order.
struct BuildListData {
    FunctionListItems Items;
    std::vector<FunctionDisplayRecord> DisplayRecords;
};

/// Receives the result on the job's thread; null when the job was canceled.
using BuildListCompletion = std::function<void(std::unique_ptr<BuildListData>)>;

/// Builds the function list of a graph on the job scheduler.
class BuildListJob : public System::Job {
public:
    /// `functions` names the items (the session's module database); not null.
    BuildListJob(FunctionQuery query, std::shared_ptr<const IFunctionInfoProvider> functions);

    /// Schedules a list job; `completion` runs once, when the job completes or is canceled.
    static System::JobHandle Start(System::JobScheduler& scheduler, FunctionQuery query,
                                   std::shared_ptr<const IFunctionInfoProvider> functions,
                                   BuildListCompletion completion);

    std::unique_ptr<BuildListData> TakeResult() { return std::move(mResult); }

private:
    void Run(const std::atomic<bool>& canceled);

    FunctionQuery mQuery;
    std::shared_ptr<const IFunctionInfoProvider> mFunctions;
    std::unique_ptr<BuildListData> mResult;
};

} // namespace Profiler
