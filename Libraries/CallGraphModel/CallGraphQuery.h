#pragma once

#include "CallGraphModel/CallGraphModel.h"

#include <atomic>
#include <memory>

namespace Profiler {

/// How a range query answers for a thread. Both give the same graph; they differ in cost.
enum class ERangePath : uint8_t {
    Cheapest,   ///< per thread, whichever of the two reads less (the planner's choice)
    Difference, ///< G(end) - G(start), each rebuilt from snapshots and a replay since the last one
    Replay,     ///< only the events from the last snapshot before the start up to the end, replayed
                ///< from that snapshot's processor state
};

/// Builds the graph that `request` asks for from the model's snapshots: the whole capture from
/// each thread's final snapshot, or the range [start, end] along `path`. Null when canceled or
/// when the model could not be read (the failure then in `errors`).
std::unique_ptr<CallGraph> BuildCallGraph(const CallGraphModel& model,
                                          const CallGraphModel::GetCallGraphOperation& request,
                                          Serialization::ErrorList& errors, const std::atomic<bool>& canceled,
                                          ERangePath path = ERangePath::Cheapest);

} // namespace Profiler
