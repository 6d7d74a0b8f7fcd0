#include "CallGraphModel/CallGraphNode.h"

#include "CallGraphModel/ChildIndex.h"

#include "Utility/Assert.h"

#include <algorithm>
#include <vector>

namespace Profiler {

CallGraphNode* CallGraphNode::FindChild(const ResolvedAddress& function, uint64_t callerAddress) const
{
    for (CallGraphNode* child : Children)
        if (child->HasKey(function, callerAddress))
            return child;
    return nullptr;
}

CallGraphNode* CallGraphNode::FindChild(const ResolvedAddress& function) const
{
    for (CallGraphNode* child : Children)
        if (child->HasFunction(function))
            return child;
    return nullptr;
}

CallGraphNode* CallGraphNode::FindOrCreateChild(const ResolvedAddress& function, uint64_t callerAddress,
                                                bool ignoreCallerAddress)
{
    CallGraphNode* child = ignoreCallerAddress ? FindChild(function) : FindChild(function, callerAddress);
    return child != nullptr ? child : AddChild(function, callerAddress);
}

CallGraphNode* CallGraphNode::AddChild(const ResolvedAddress& function, uint64_t callerAddress)
{
    CallGraphNode* child = Allocator->CreateNode(function, callerAddress, this, Depth + 1);
    Children.PushBack(GetArena(), child);
    return child;
}

void CallGraphNode::RemoveChild(CallGraphNode* child)
{
    for (uint32_t i = 0; i < Children.size(); ++i)
        if (Children[i] == child) {
            Children.Erase(i);
            child->Parent = nullptr;
            return;
        }
    QX_FAIL("node is not a child of its parent");
}

void CallGraphNode::AppendChild(CallGraphNode* child)
{
    QX_ASSERT(child->Allocator == Allocator, "a node can only move within its own graph");
    Children.PushBack(GetArena(), child);
    child->Parent = this;
}

void CallGraphNode::AddSample(uint64_t address, uint32_t count)
{
    AddressSample* first = AddressSamples.begin();
    AddressSample* last = AddressSamples.end();
    // Samples mostly arrive in ascending order (records, merges), so try the end first.
    if (first == last || (last - 1)->Address < address) {
        AddressSamples.PushBack(GetArena(), {address, count});
        return;
    }
    AddressSample* found = std::lower_bound(first, last, address,
                                            [](const AddressSample& s, uint64_t a) { return s.Address < a; });
    if (found != last && found->Address == address)
        found->Count += count;
    else
        AddressSamples.Insert(GetArena(), static_cast<uint32_t>(found - first), {address, count});
}

void CallGraphNode::AddSamples(std::span<const AddressSample> samples)
{
    for (const AddressSample& sample : samples)
        AddSample(sample.Address, sample.Count);
}

void CallGraphNode::MergeSamples(std::span<const AddressSample> samples)
{
    if (samples.empty())
        return;
    if (AddressSamples.empty()) {
        AddressSamples.Assign(GetArena(), samples);
        return;
    }
    // Count the addresses that are new here, grow once, then merge from the back in place.
    uint32_t added = 0;
    {
        const AddressSample* mine = AddressSamples.begin();
        const AddressSample* mineEnd = AddressSamples.end();
        for (const AddressSample& sample : samples) {
            while (mine != mineEnd && mine->Address < sample.Address)
                ++mine;
            if (mine == mineEnd || mine->Address != sample.Address)
                ++added;
        }
    }
    const uint32_t oldSize = AddressSamples.size();
    const uint32_t newSize = oldSize + added;
    AddressSamples.Reserve(GetArena(), newSize);
    AddressSample* data = AddressSamples.data();
    int64_t mine = static_cast<int64_t>(oldSize) - 1;
    int64_t theirs = static_cast<int64_t>(samples.size()) - 1;
    int64_t out = static_cast<int64_t>(newSize) - 1;
    while (theirs >= 0) {
        if (mine >= 0 && data[mine].Address > samples[theirs].Address) {
            data[out--] = data[mine--];
        } else if (mine >= 0 && data[mine].Address == samples[theirs].Address) {
            data[out] = data[mine--];
            data[out--].Count += samples[theirs--].Count;
        } else {
            data[out--] = samples[theirs--];
        }
    }
    AddressSamples.SetSize(newSize);
}

uint64_t CallGraphNode::GetSampleCount() const
{
    uint64_t total = 0;
    for (const AddressSample& sample : AddressSamples)
        total += sample.Count;
    return total;
}

namespace {

/// `created`: the target was made by this merge, so its children can only come from the source,
/// whose keys are unique per parent: they are appended without a search.
void MergeSubtree(CallGraphNode& target, const CallGraphNode& source, ChildIndex& children, bool created)
{
    target.AddTimes(source.StateTimes);
    target.MergeSamples(source.AddressSamples.Span());
    for (const CallGraphNode* sourceChild : source.Children) {
        CallGraphNode* child = nullptr;
        bool childCreated = created;
        if (created) {
            child = target.AddChild(sourceChild->GetFunction(), sourceChild->CallerAddress);
        } else {
            const std::size_t before = target.Children.size();
            child = children.FindOrCreate(target, sourceChild->GetFunction(), sourceChild->CallerAddress);
            childCreated = target.Children.size() != before;
        }
        MergeSubtree(*child, *sourceChild, children, childCreated);
    }
}

} // namespace

void CallGraphNode::MergeFrom(const CallGraphNode& source)
{
    if (!QX_ASSERT(&source != this, "a node cannot be merged into itself"))
        return;
    ChildIndex children;
    MergeSubtree(*this, source, children, false);
}

void CallGraphNode::CopyFigures(const CallGraphNode& other)
{
    if (&other == this)
        return;
    StateTimes = other.StateTimes;
    AddressSamples.Assign(GetArena(), other.AddressSamples.Span());
}

void CallGraphNode::SubtractFigures(const CallGraphNode& start, const CallGraphNode& end)
{
    for (int i = 0; i < kThreadStateCount; ++i)
        StateTimes[i] = end.StateTimes[i] - start.StateTimes[i];

    const std::span<const AddressSample> endSamples = end.AddressSamples.Span();
    const std::span<const AddressSample> startSamples = start.AddressSamples.Span();
    // The result is written over this node's array, so copy inputs that alias it first.
    std::vector<AddressSample> endCopy;
    std::vector<AddressSample> startCopy;
    std::span<const AddressSample> endView = endSamples;
    std::span<const AddressSample> startView = startSamples;
    if (&end == this) {
        endCopy.assign(endSamples.begin(), endSamples.end());
        endView = endCopy;
    }
    if (&start == this) {
        startCopy.assign(startSamples.begin(), startSamples.end());
        startView = startCopy;
    }

    AddressSamples.Clear();
    AddressSamples.Reserve(GetArena(), static_cast<uint32_t>(endView.size()));
    AddressSample* out = AddressSamples.data();
    uint32_t count = 0;
    std::size_t cursor = 0;
    for (const AddressSample& sample : endView) {
        // Start addresses missing from the end cannot occur in a prefix; step over them anyway.
        while (cursor < startView.size() && startView[cursor].Address < sample.Address)
            ++cursor;
        if (cursor < startView.size() && startView[cursor].Address == sample.Address) {
            if (sample.Count != startView[cursor].Count)
                out[count++] = {sample.Address, sample.Count - startView[cursor].Count};
            ++cursor;
        } else {
            out[count++] = sample;
        }
    }
    AddressSamples.SetSize(count);
}

} // namespace Profiler
