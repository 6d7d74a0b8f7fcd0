#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>

namespace Profiler {

struct CallGraphNode;
class NodeArena;

/// Creates the nodes of one graph, all of the allocator's node type, from its arena.
class INodeAllocator {
public:
    virtual ~INodeAllocator() = default;

    /// A node with zero figures, empty arrays, the given key, parent and depth.
    virtual CallGraphNode* CreateNode(const ResolvedAddress& function, uint64_t callerAddress,
                                      CallGraphNode* parent, uint32_t depth) = 0;
    /// A root: no figures, caller address all ones, ResolveIndex 0xFFFFFFFF, depth 0xFFFFFFFF.
    virtual CallGraphNode* CreateRoot() = 0;
    /// Destroys the node's children, then returns its arrays to the arena; the node's own
    /// storage stays until Reset.
    virtual void DestroyNode(CallGraphNode* node) = 0;
    /// Makes all arena storage reusable; every node of the graph is gone.
    virtual void Reset() = 0;
    /// The arena from which the nodes' arrays grow.
    virtual NodeArena& GetArena() = 0;
};

} // namespace Profiler
