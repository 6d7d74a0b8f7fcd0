#include "CallGraphModel/CallGraphDifference.h"

#include "CallGraphModel/CallGraphNode.h"
#include "CallGraphModel/ChildIndex.h"

namespace Profiler {

namespace {

struct DifferenceBuilder {
    const std::atomic<bool>& canceled;
    ChildIndex startChildren;
    ChildIndex outputChildren;

    bool Build(const CallGraphNode* start, const CallGraphNode& end, CallGraphNode& output);
};

bool DifferenceBuilder::Build(const CallGraphNode* start, const CallGraphNode& end, CallGraphNode& output)
{
    for (const CallGraphNode* child : end.Children) {
        if (canceled.load(std::memory_order_relaxed))
            return false;
        const ResolvedAddress function = child->GetFunction();
        const CallGraphNode* startChild =
            start != nullptr ? startChildren.Find(*start, function, child->CallerAddress) : nullptr;
        CallGraphNode* outputChild = nullptr;
        if (startChild != nullptr) {
            if (child->InclusiveTime() - startChild->InclusiveTime() == 0.0)
                continue; // nothing happened under it
            outputChild = outputChildren.FindOrCreate(output, function, child->CallerAddress);
            outputChild->SubtractFigures(*startChild, *child);
        } else {
            if (child->InclusiveTime() == 0.0)
                continue;
            outputChild = outputChildren.FindOrCreate(output, function, child->CallerAddress);
            outputChild->CopyFigures(*child);
        }
        if (!Build(startChild, *child, *outputChild))
            return false;
    }
    return true;
}

} // namespace

bool BuildDifference(const CallGraphNode* start, const CallGraphNode& end, CallGraphNode& output,
                     const std::atomic<bool>& canceled)
{
    DifferenceBuilder builder{canceled, ChildIndex(), ChildIndex()};
    return builder.Build(start, end, output);
}

} // namespace Profiler
