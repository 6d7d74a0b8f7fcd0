#include "CallGraphModel/ChildIndex.h"

#include "Utility/Fnv1a.h"

namespace Profiler {

namespace {

using Utility::MixBits64;

uint64_t HashPointer(const CallGraphNode* node)
{
    return MixBits64(reinterpret_cast<uintptr_t>(node));
}

} // namespace

uint64_t ChildIndex::Hash(const CallGraphNode* parent, uint64_t address, uint32_t index,
                          uint64_t callerAddress) const
{
    uint64_t hash =
        HashPointer(parent) ^ MixBits64(address + (uint64_t{index & ResolvedAddress::kIdentityMask} << 1));
    if (!mIgnoreCallerAddress)
        hash ^= MixBits64(callerAddress ^ 0x9e3779b97f4a7c15ull);
    return hash;
}

bool ChildIndex::Matches(const Slot& slot, const CallGraphNode* parent, uint64_t hash,
                         const ResolvedAddress& function, uint64_t callerAddress) const
{
    return slot.hash == hash && slot.parent == parent && slot.child->HasFunction(function) &&
           (mIgnoreCallerAddress || slot.child->CallerAddress == callerAddress);
}

CallGraphNode* ChildIndex::FindIndexed(const CallGraphNode& parent, const ResolvedAddress& function,
                                       uint64_t callerAddress)
{
    // Is the parent indexed yet?
    bool indexed = &parent == mLastIndexed;
    if (!indexed && !mIndexedParents.empty()) {
        const std::size_t mask = mIndexedParents.size() - 1;
        for (std::size_t i = HashPointer(&parent) & mask; mIndexedParents[i] != nullptr; i = (i + 1) & mask)
            if (mIndexedParents[i] == &parent) {
                indexed = true;
                break;
            }
    }
    if (!indexed)
        IndexChildren(parent);
    mLastIndexed = &parent;

    const std::size_t mask = mSlots.size() - 1;
    const uint64_t hash = Hash(&parent, function.RelativeAddress, function.ResolveIndex, callerAddress);
    for (std::size_t i = hash & mask; mSlots[i].parent != nullptr; i = (i + 1) & mask)
        if (Matches(mSlots[i], &parent, hash, function, callerAddress))
            return mSlots[i].child;
    return nullptr;
}

void ChildIndex::IndexChildren(const CallGraphNode& parent)
{
    if ((mIndexedCount + 1) * 2 > mIndexedParents.size()) {
        std::vector<const CallGraphNode*> old(std::max<std::size_t>(16, mIndexedParents.size() * 2), nullptr);
        old.swap(mIndexedParents);
        const std::size_t mask = mIndexedParents.size() - 1;
        for (const CallGraphNode* node : old) {
            if (node == nullptr)
                continue;
            std::size_t i = HashPointer(node) & mask;
            while (mIndexedParents[i] != nullptr)
                i = (i + 1) & mask;
            mIndexedParents[i] = node;
        }
    }
    const std::size_t mask = mIndexedParents.size() - 1;
    std::size_t i = HashPointer(&parent) & mask;
    while (mIndexedParents[i] != nullptr)
        i = (i + 1) & mask;
    mIndexedParents[i] = &parent;
    ++mIndexedCount;

    for (CallGraphNode* child : parent.Children)
        Insert(child);
}

void ChildIndex::Insert(CallGraphNode* child)
{
    if ((mCount + 1) * 2 > mSlots.size())
        Grow();
    const std::size_t mask = mSlots.size() - 1;
    const ResolvedAddress function = child->GetFunction();
    const uint64_t hash =
        Hash(child->Parent, function.RelativeAddress, function.ResolveIndex, child->CallerAddress);
    std::size_t i = hash & mask;
    for (; mSlots[i].parent != nullptr; i = (i + 1) & mask)
        if (Matches(mSlots[i], child->Parent, hash, function, child->CallerAddress))
            return; // an earlier child with this key stays the one found
    mSlots[i] = {child->Parent, child, hash};
    ++mCount;
}

void ChildIndex::Grow()
{
    std::vector<Slot> old(std::max<std::size_t>(64, mSlots.size() * 2));
    old.swap(mSlots);
    const std::size_t mask = mSlots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.parent == nullptr)
            continue;
        std::size_t i = slot.hash & mask;
        while (mSlots[i].parent != nullptr)
            i = (i + 1) & mask;
        mSlots[i] = slot;
    }
}

} // namespace Profiler
