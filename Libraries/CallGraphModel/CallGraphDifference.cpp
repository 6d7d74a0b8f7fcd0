#include "CallGraphModel/CallGraphDifference.h"

#include "CallGraphModel/CallGraphNode.h"

namespace Profiler {

bool BuildDifference(const CallGraphNode* start, const CallGraphNode& end, CallGraphNode& output,
                     const std::atomic<bool>& canceled)
{
    for (const CallGraphNode* child : end.Children) {
        if (canceled.load(std::memory_order_relaxed))
            return false;
        const ResolvedAddress function = child->GetFunction();
        const CallGraphNode* startChild =
            start != nullptr ? start->FindChild(function, child->CallerAddress) : nullptr;
        CallGraphNode* outputChild = nullptr;
        if (startChild != nullptr) {
            if (child->InclusiveTime() - startChild->InclusiveTime() == 0.0)
                continue; // nothing happened under it
            outputChild = output.FindOrCreateChild(function, child->CallerAddress);
            outputChild->SubtractFigures(*startChild, *child);
        } else {
            if (child->InclusiveTime() == 0.0)
                continue;
            outputChild = output.FindOrCreateChild(function, child->CallerAddress);
            outputChild->CopyFigures(*child);
        }
        if (!BuildDifference(startChild, *child, *outputChild, canceled))
            return false;
    }
    return true;
}

} // namespace Profiler
