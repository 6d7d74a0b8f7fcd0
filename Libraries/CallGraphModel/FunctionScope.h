#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace Profiler {

/// Which nodes of a graph the function list, the butterfly and function timing look at, and how
/// samples turn into time.
struct FunctionScope {
    /// Custom root path, outermost first; empty when the whole graph counts.
    std::vector<ResolvedAddress> CustomRootPath;
    /// Nodes shallower than this do not count (the Depth of the request that built the graph).
    int32_t MinimumDepth = 0;
    /// The capture's sampling interval (ms): the time one sample stands for.
    double SamplingIntervalMs = 1.0;

    /// The graph's root never counts; other nodes count from the minimum depth on.
    bool Counts(const CallGraphNode& node) const
    {
        return !node.IsRoot() && static_cast<int64_t>(node.Depth) >= MinimumDepth;
    }
};

class CallGraph;

/// What the function list, butterfly and timing jobs read: a published (immutable) graph and the
/// part of it that counts.
struct FunctionQuery {
    std::shared_ptr<const CallGraph> Graph;
    FunctionScope Scope;
};

/// The nodes below which everything counts: the root without a custom root path; otherwise every
/// node reached by following, level by level, all children whose function equals the next path
/// entry (call sites ignored), in child order.
std::vector<const CallGraphNode*> FindStartNodes(const CallGraphNode& root,
                                                 std::span<const ResolvedAddress> path);

/// A node's own time (inclusive minus its children's), split by what the samples explain.
struct SelfTimeSplit {
    double Exclusive = 0.0;        ///< executing self time covered by samples
    double UnknownExecuting = 0.0; ///< executing self time beyond the samples
    double UnknownWait = 0.0;      ///< self time in states other than Executing
};

SelfTimeSplit ComputeSelfTimeSplit(const CallGraphNode& node, double samplingIntervalMs);

struct SingleState {
    bool IsSingle = false;
    uint8_t State = kThreadStateUndetermined; ///< the state when IsSingle, else 9
};

/// Whether exactly one of the eight times exceeds 0.01 (single precision), and which.
SingleState GetSingleState(const StateTimeArray& times);

} // namespace Profiler
