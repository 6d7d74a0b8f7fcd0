#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CallGraphModel/INodeAllocator.h"
#include "CallGraphModel/NodeArena.h"

#include <new>
#include <type_traits>

namespace Profiler {

/// Releases the arrays that a derived node record adds; records without any need no overload.
inline void ReleaseExtraArrays(CallGraphNode&, NodeArena&) {}

/// Allocates nodes of type T (CallGraphNode or a record derived from it) from a NodeArena.
template <class T> class NodeAllocator final : public INodeAllocator {
    static_assert(std::is_base_of_v<CallGraphNode, T>);
    static_assert(std::is_trivially_destructible_v<T>, "nodes are released with their arena");

public:
    explicit NodeAllocator(std::size_t firstBlockBytes = 1024) : mArena(firstBlockBytes) {}

    CallGraphNode* CreateNode(const ResolvedAddress& function, uint64_t callerAddress, CallGraphNode* parent,
                              uint32_t depth) override
    {
        T* node = new (mArena.Allocate(sizeof(T))) T{};
        node->FunctionAddress = function.RelativeAddress;
        node->FunctionIndex = function.ResolveIndex;
        node->CallerAddress = callerAddress;
        node->Parent = parent;
        node->Depth = depth;
        node->Allocator = this;
        return node;
    }

    CallGraphNode* CreateRoot() override
    {
        return CreateNode({0, kRootResolveIndex}, kUnknownCallerAddress, nullptr, kRootDepth);
    }

    void DestroyNode(CallGraphNode* node) override
    {
        if (node == nullptr)
            return;
        for (CallGraphNode* child : node->Children)
            DestroyNode(child);
        node->Children.Release(mArena);
        node->AddressSamples.Release(mArena);
        ReleaseExtraArrays(static_cast<T&>(*node), mArena);
    }

    void Reset() override { mArena.Reset(); }
    NodeArena& GetArena() override { return mArena; }

private:
    NodeArena mArena;
};

} // namespace Profiler
