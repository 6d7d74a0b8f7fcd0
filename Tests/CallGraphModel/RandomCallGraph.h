#pragma once

#include "CallGraphText.h"

#include <random>
#include <vector>

namespace CallGraphTest {

/// One stack of a random capture: frames outermost first, the time it adds to every frame and
/// the samples of its innermost frame. Times are whole or half milliseconds so that sums and
/// differences are exact whatever their order.
struct RandomStack {
    std::vector<Frame> frames;
    Profiler::StateTimeArray times{};
    std::vector<Profiler::AddressSample> samples;
};

struct RandomStackOptions {
    int functionCount = 6; ///< few functions, so recursion is common
    int maxDepth = 8;
    bool zones = true;
};

std::vector<RandomStack> MakeRandomStacks(std::mt19937_64& random, FunctionNames& names, int count,
                                          const RandomStackOptions& options = {});

void AddRandomStacks(Profiler::CallGraphNode& root, const std::vector<RandomStack>& stacks);

} // namespace CallGraphTest
