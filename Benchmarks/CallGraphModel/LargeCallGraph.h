#pragma once

#include "CallGraphModel/CallGraph.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace CallGraphBench {

struct LargeGraphShape {
    std::size_t nodeCount = 2'000'000;
    uint32_t functionCount = 20'000;
    uint32_t minDepth = 20;
    uint32_t maxDepth = 60;
    double recursionChance = 0.03; ///< a new frame re-enters a function already on its stack
    uint64_t seed = 1;
};

/// A call graph shaped like a long capture of a busy thread: one entry chain, stacks 20-60 deep
/// that share their outer frames and fan out deeper, functions drawn with a strong skew (a few hot
/// ones, a long tail), several call sites per caller, some recursion, wait states and samples.
std::unique_ptr<Profiler::CallGraph> MakeLargeCallGraph(const LargeGraphShape& shape);

} // namespace CallGraphBench
