#pragma once

#include "CallGraphModel/FunctionScope.h"
#include "CallGraphModel/ThreadState.h"
#include "CaptureModel/ResolvedAddress.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace Profiler {

/// One function of a call graph with its totals over every node of it in scope.
struct FunctionListItem {
    ResolvedAddress Function;
    StateTimeArray Inclusive{};    ///< time with the function on the stack; recursion counted once
    double Exclusive = 0.0;        ///< time attributed to the function by samples (ms)
    double UnknownExecuting = 0.0; ///< executing self time not covered by samples (ms)
    double UnknownWait = 0.0;      ///< self time in states other than Executing (ms)
    uint64_t SampleCount = 0;      ///< samples whose innermost frame was the function

    double GetTotalInclusive() const { return SumStateTimes(Inclusive); }
};

using FunctionListItems = std::vector<std::unique_ptr<FunctionListItem>>;

/// Builds the function list of the nodes in scope below `root` in one pass, sorted by total
/// inclusive time, largest first (equal totals keep the order in which the functions were met).
/// Returns false, with `items` empty, when canceled.
bool BuildFunctionList(const CallGraphNode& root, const FunctionScope& scope, FunctionListItems& items,
                       const std::atomic<bool>& canceled);

} // namespace Profiler
