#pragma once

#include "CallGraphModel/CallGraphModel.h"

#include <atomic>
#include <memory>

namespace Profiler {

/// Builds the graph that `request` asks for from the model's snapshots: the whole capture from
/// each thread's final snapshot, or the range [start, end] as the difference of the threads'
/// cumulative graphs at its two ends. Null when canceled or when the model could not be read
/// (the failure then in `errors`).
std::unique_ptr<CallGraph> BuildCallGraph(const CallGraphModel& model,
                                          const CallGraphModel::GetCallGraphOperation& request,
                                          Serialization::ErrorList& errors,
                                          const std::atomic<bool>& canceled);

} // namespace Profiler
