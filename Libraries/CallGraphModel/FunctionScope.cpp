#include "CallGraphModel/FunctionScope.h"

#include <algorithm>

namespace Profiler {

std::vector<const CallGraphNode*> FindStartNodes(const CallGraphNode& root,
                                                 std::span<const ResolvedAddress> path)
{
    std::vector<const CallGraphNode*> level{&root};
    std::vector<const CallGraphNode*> next;
    for (const ResolvedAddress& function : path) {
        next.clear();
        for (const CallGraphNode* node : level)
            for (const CallGraphNode* child : node->Children)
                if (child->HasFunction(function))
                    next.push_back(child);
        level.swap(next);
    }
    return level;
}

SelfTimeSplit ComputeSelfTimeSplit(const CallGraphNode& node, double samplingIntervalMs)
{
    constexpr int kExecuting = static_cast<int>(EThreadState::Executing);
    double childTotal = 0.0;
    double childExecuting = 0.0;
    for (const CallGraphNode* child : node.Children) {
        childTotal += child->InclusiveTime();
        childExecuting += child->StateTimes[kExecuting];
    }
    const double total = node.InclusiveTime();
    const double self = total - std::min(total, childTotal);
    const double executing = node.StateTimes[kExecuting];
    const double selfExecuting = std::min(executing - std::min(executing, childExecuting), self);
    const double sampled = static_cast<double>(node.GetSampleCount()) * samplingIntervalMs;

    SelfTimeSplit split;
    split.Exclusive = std::min(sampled, selfExecuting);
    split.UnknownExecuting = std::max(selfExecuting - sampled, 0.0);
    split.UnknownWait = self - selfExecuting;
    return split;
}

SingleState GetSingleState(const StateTimeArray& times)
{
    constexpr double kThreshold = static_cast<double>(0.01f);
    SingleState result;
    int found = 0;
    for (int i = 0; i < kThreadStateCount; ++i) {
        if (times[i] > kThreshold) {
            ++found;
            result.State = static_cast<uint8_t>(i);
        }
    }
    if (found != 1)
        return {};
    result.IsSingle = true;
    return result;
}

} // namespace Profiler
