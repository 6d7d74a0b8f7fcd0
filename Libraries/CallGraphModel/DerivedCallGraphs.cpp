#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "CallGraphModel/NodeAllocator.h"

namespace Profiler {

CalledByGraph::CalledByGraph()
    : CallGraph(std::make_unique<NodeAllocator<CalledByGraphNode>>(kDefaultFirstBlockBytes))
{}

FoldedCallGraph::FoldedCallGraph()
    : CallGraph(std::make_unique<NodeAllocator<FoldedCallGraphNode>>(kDefaultFirstBlockBytes))
{}

MergedCallGraph::MergedCallGraph()
    : CallGraph(std::make_unique<NodeAllocator<MergedCallGraphNode>>(kDefaultFirstBlockBytes))
{}

} // namespace Profiler
