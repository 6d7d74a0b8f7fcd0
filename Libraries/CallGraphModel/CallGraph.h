#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CallGraphModel/INodeAllocator.h"

#include <cstddef>
#include <memory>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// A tree of call graph nodes that owns its allocator. The root stands for the whole thread (or
/// set of threads); in graphs built from bars its times stay zero.
class CallGraph {
public:
    static constexpr std::size_t kDefaultFirstBlockBytes = 1024;
    /// First arena block of query results, so that large graphs need few blocks.
    static constexpr std::size_t kQueryFirstBlockBytes = 1024 * 1024;

    CallGraph();
    explicit CallGraph(std::size_t firstBlockBytes);
    explicit CallGraph(std::unique_ptr<INodeAllocator> allocator);
    virtual ~CallGraph();
    CallGraph(const CallGraph&) = delete;
    CallGraph& operator=(const CallGraph&) = delete;

    CallGraphNode& GetRoot() { return *mRoot; }
    const CallGraphNode& GetRoot() const { return *mRoot; }
    INodeAllocator& GetAllocator() { return *mAllocator; }

    /// A new default-sized graph into whose root this graph is merged.
    std::unique_ptr<CallGraph> Clone() const;
    /// Destroys every node; the graph is left with an empty root and its arena is reused.
    void Clear();

    /// Sum of the top-level nodes' inclusive times.
    double GetTotalTime() const;
    /// Number of nodes below the root.
    std::size_t CountNodes() const;

private:
    std::unique_ptr<INodeAllocator> mAllocator;
    CallGraphNode* mRoot;
};

} // namespace Profiler
