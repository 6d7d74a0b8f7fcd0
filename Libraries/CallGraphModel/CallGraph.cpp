#include "CallGraphModel/CallGraph.h"

#include "CallGraphModel/NodeAllocator.h"

#include <vector>

namespace Profiler {

CallGraph::CallGraph() : CallGraph(kDefaultFirstBlockBytes) {}

CallGraph::CallGraph(std::size_t firstBlockBytes)
    : CallGraph(std::make_unique<NodeAllocator<CallGraphNode>>(firstBlockBytes))
{}

CallGraph::CallGraph(std::unique_ptr<INodeAllocator> allocator)
    : mAllocator(std::move(allocator)), mRoot(mAllocator->CreateRoot())
{}

// Nodes and their arrays all live in the allocator's arena and are trivially destructible, so
// destroying the allocator releases the whole tree; walking it through DestroyNode first would
// only hand every array back to free lists that are about to go.
CallGraph::~CallGraph() = default;

std::unique_ptr<CallGraph> CallGraph::Clone() const
{
    auto clone = std::make_unique<CallGraph>();
    clone->GetRoot().MergeFrom(*mRoot);
    return clone;
}

void CallGraph::Clear()
{
    // Reset reclaims every node and array at once (see the destructor).
    mAllocator->Reset();
    mRoot = mAllocator->CreateRoot();
}

double CallGraph::GetTotalTime() const
{
    double total = 0.0;
    for (const CallGraphNode* child : mRoot->Children)
        total += child->InclusiveTime();
    return total;
}

std::size_t CallGraph::CountNodes() const
{
    std::size_t count = 0;
    std::vector<const CallGraphNode*> stack(mRoot->Children.begin(), mRoot->Children.end());
    while (!stack.empty()) {
        const CallGraphNode* node = stack.back();
        stack.pop_back();
        ++count;
        stack.insert(stack.end(), node->Children.begin(), node->Children.end());
    }
    return count;
}

} // namespace Profiler
