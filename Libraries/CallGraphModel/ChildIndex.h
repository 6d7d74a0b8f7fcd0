#pragma once

#include "CallGraphModel/CallGraphNode.h"

#include <cstdint>
#include <vector>

namespace Profiler {

/// Finds children by key during one bulk operation (merging, reading a record, folding). Children
/// are kept unsorted and searched linearly, which is fastest for the usual handful; but a node
/// with thousands of children (a dispatcher, or a recursion root beside which many re-entries
/// were folded) would make that quadratic. Once a node has more than kLinearLimit children, its
/// children go into a hash index, and every child created through this object is added to it.
/// The index is only valid while all children of indexed nodes are created through this object.
class ChildIndex {
public:
    static constexpr uint32_t kLinearLimit = 16;

    /// With `ignoreCallerAddress` children are keyed by function alone.
    explicit ChildIndex(bool ignoreCallerAddress = false) : mIgnoreCallerAddress(ignoreCallerAddress) {}

    /// The first child with this key, as FindChild gives it.
    CallGraphNode* Find(const CallGraphNode& parent, const ResolvedAddress& function, uint64_t callerAddress)
    {
        if (parent.Children.size() <= kLinearLimit)
            return mIgnoreCallerAddress ? parent.FindChild(function)
                                        : parent.FindChild(function, callerAddress);
        return FindIndexed(parent, function, callerAddress);
    }

    CallGraphNode* FindOrCreate(CallGraphNode& parent, const ResolvedAddress& function,
                                uint64_t callerAddress)
    {
        if (CallGraphNode* child = Find(parent, function, callerAddress))
            return child;
        CallGraphNode* child = parent.AddChild(function, callerAddress);
        if (parent.Children.size() > kLinearLimit + 1)
            Insert(child); // the parent was indexed by the Find above
        return child;
    }

private:
    struct Slot {
        const CallGraphNode* parent = nullptr; ///< null for an empty slot
        CallGraphNode* child = nullptr;
        /// The key's hash: probes and growing then read the child only when it may match.
        uint64_t hash = 0;
    };

    CallGraphNode* FindIndexed(const CallGraphNode& parent, const ResolvedAddress& function,
                               uint64_t callerAddress);
    void IndexChildren(const CallGraphNode& parent);
    void Insert(CallGraphNode* child);
    uint64_t Hash(const CallGraphNode* parent, uint64_t address, uint32_t index,
                  uint64_t callerAddress) const;
    bool Matches(const Slot& slot, const CallGraphNode* parent, uint64_t hash,
                 const ResolvedAddress& function, uint64_t callerAddress) const;
    void Grow();

    const bool mIgnoreCallerAddress;
    std::vector<Slot> mSlots;
    std::size_t mCount = 0;
    std::vector<const CallGraphNode*> mIndexedParents; ///< open-addressed set, null for empty
    std::size_t mIndexedCount = 0;
    const CallGraphNode* mLastIndexed = nullptr; ///< lookups come in runs on one parent
};

} // namespace Profiler
