#pragma once

#include <atomic>

namespace Profiler {

struct CallGraphNode;

/// Fills `output` with what happened between the cumulative tree `start` (null when there was
/// nothing yet) and the later cumulative tree `end`: each child of `end` whose inclusive time grew
/// gets end minus start figures (a new child copies its figures), recursively. Subtrees whose
/// inclusive time did not change are left out even if their sample counts changed. Returns false
/// when canceled (the output is then partial).
bool BuildDifference(const CallGraphNode* start, const CallGraphNode& end, CallGraphNode& output,
                     const std::atomic<bool>& canceled);

} // namespace Profiler
