#include "LargeCallGraph.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace Profiler;

namespace CallGraphBench {

std::unique_ptr<CallGraph> MakeLargeCallGraph(const LargeGraphShape& shape)
{
    auto graph = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
    std::mt19937_64 random(shape.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto function = [&](uint32_t index) {
        return ResolvedAddress::Make(0x10000 + uint64_t{index} * 0x400, ResolvedAddress::kKindNative, index % 64);
    };
    // Hot functions first: index = count * u^3 puts half the draws in the first 12%.
    const auto drawFunction = [&] {
        const double u = unit(random);
        return std::min(shape.functionCount - 1, static_cast<uint32_t>(shape.functionCount * u * u * u));
    };

    std::vector<CallGraphNode*> path;
    std::size_t nodes = 0;
    while (nodes < shape.nodeCount) {
        const uint32_t depth = shape.minDepth + static_cast<uint32_t>(random() % (shape.maxDepth - shape.minDepth + 1));
        StateTimeArray times{};
        times[static_cast<int>(EThreadState::Executing)] = 1.0;
        if (unit(random) < 0.2)
            times[4 + random() % 4] = 0.5 + static_cast<double>(random() % 8);
        path.clear();
        CallGraphNode* node = &graph->GetRoot();
        for (uint32_t level = 0; level < depth; ++level) {
            // Outer frames are shared; the chance of a new branch grows with depth.
            const double branch = level < 3 ? 0.0 : std::min(0.5, 0.012 * level);
            if (!node->Children.empty() && unit(random) >= branch) {
                const double u = unit(random);
                node = node->Children[static_cast<uint32_t>(node->Children.size() * u * u)];
            } else {
                ResolvedAddress callee = function(level < 3 ? level : drawFunction());
                if (!path.empty() && unit(random) < shape.recursionChance)
                    callee = path[random() % path.size()]->GetFunction();
                const uint64_t callSite =
                    node->IsRoot() ? kUnknownCallerAddress : node->FunctionAddress + 5 + 16 * (random() % 4);
                CallGraphNode* child = node->FindChild(callee, callSite);
                if (child == nullptr) {
                    child = node->AddChild(callee, callSite);
                    ++nodes;
                }
                node = child;
            }
            node->AddTimes(times);
            path.push_back(node);
        }
        node->AddSample(node->FunctionAddress + 4 * (random() % 16), 1);
    }
    return graph;
}

} // namespace CallGraphBench
