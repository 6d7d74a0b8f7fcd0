#include "RandomCallGraph.h"

using namespace Profiler;

namespace CallGraphTest {

std::vector<RandomStack> MakeRandomStacks(std::mt19937_64& random, FunctionNames& names, int count,
                                          const RandomStackOptions& options)
{
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const uint64_t callers[] = {kUnknownCallerAddress, 0x10, 0x20};
    std::vector<RandomStack> stacks(static_cast<size_t>(count));
    for (RandomStack& stack : stacks) {
        const int depth = uniform(1, options.maxDepth);
        for (int level = 0; level < depth; ++level) {
            const bool zone = options.zones && uniform(0, 9) == 0;
            const std::string name = zone ? "!z" + std::to_string(uniform(0, 1))
                                          : "f" + std::to_string(uniform(0, options.functionCount - 1));
            stack.frames.push_back({names.Get(name), callers[uniform(0, 2)]});
        }
        for (double& time : stack.times)
            if (uniform(0, 9) < 3)
                time = uniform(1, 8) * 0.5;
        if (SumStateTimes(stack.times) == 0.0)
            stack.times[static_cast<int>(EThreadState::Executing)] = 1.0;
        const int sampleCount = uniform(0, 2);
        for (int i = 0; i < sampleCount; ++i)
            stack.samples.push_back(
                {0x100 + 8 * static_cast<uint64_t>(uniform(0, 7)), static_cast<uint32_t>(uniform(1, 3))});
    }
    return stacks;
}

void AddRandomStacks(CallGraphNode& root, const std::vector<RandomStack>& stacks)
{
    for (const RandomStack& stack : stacks)
        AddStack(root, stack.frames, stack.times, stack.samples);
}

} // namespace CallGraphTest
