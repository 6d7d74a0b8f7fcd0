#pragma once

#include "CallGraphModel/INodeAllocator.h"
#include "CallGraphModel/NodeArray.h"
#include "CallGraphModel/ThreadState.h"
#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <span>

namespace Serialization {
class ErrorList;
}

namespace Profiler {

class ChildIndex;

class RecordReader;
class RecordWriter;

/// Samples whose innermost frame was a node, at one instruction address.
struct AddressSample {
    uint64_t Address;
    uint32_t Count;
};

inline constexpr uint64_t kUnknownCallerAddress = ~uint64_t{0};
inline constexpr uint32_t kRootDepth = 0xFFFFFFFFu;
inline constexpr uint32_t kRootResolveIndex = 0xFFFFFFFFu;

/// One function called at one call site along one call path. The derived node records of the
/// derived graphs start with these fields. Nodes live in their graph's arena, are trivially
/// destructible and are never freed one by one.
struct CallGraphNode {
    StateTimeArray StateTimes;
    NodeArray<AddressSample> AddressSamples; ///< ascending by address, no duplicates
    NodeArray<CallGraphNode*> Children;      ///< in order of creation
    uint64_t FunctionAddress;                ///< RelativeAddress of the node's function
    INodeAllocator* Allocator;               ///< of the graph that owns the node; not owned
    uint64_t CallerAddress;                  ///< call site in the caller; all ones when unknown
    CallGraphNode* Parent;                   ///< null for the root
    uint32_t Depth;                          ///< parent's depth + 1; the root has 0xFFFFFFFF
    uint32_t FunctionIndex;                  ///< ResolveIndex of the node's function

    ResolvedAddress GetFunction() const { return {FunctionAddress, FunctionIndex}; }
    bool IsRoot() const { return Parent == nullptr; }
    bool HasFunction(const ResolvedAddress& function) const
    {
        return FunctionAddress == function.RelativeAddress &&
               ((FunctionIndex ^ function.ResolveIndex) & ResolvedAddress::kIdentityMask) == 0;
    }
    bool HasKey(const ResolvedAddress& function, uint64_t callerAddress) const
    {
        return CallerAddress == callerAddress && HasFunction(function);
    }

    /// First child with this function (30-bit rule) and call site, or null.
    CallGraphNode* FindChild(const ResolvedAddress& function, uint64_t callerAddress) const;
    /// First child with this function, whatever its call site, or null.
    CallGraphNode* FindChild(const ResolvedAddress& function) const;
    CallGraphNode* FindOrCreateChild(const ResolvedAddress& function, uint64_t callerAddress,
                                     bool ignoreCallerAddress = false);
    /// Creates and appends a child without looking for an existing one.
    CallGraphNode* AddChild(const ResolvedAddress& function, uint64_t callerAddress);

    /// Unlinks `child` from this node's children (its storage stays in the arena).
    void RemoveChild(CallGraphNode* child);
    /// Appends an existing node of the same graph and makes this node its parent.
    void AppendChild(CallGraphNode* child);

    double InclusiveTime() const { return SumStateTimes(StateTimes); }
    void AddTimes(const CallGraphNode& other) { AddTimes(other.StateTimes); }
    void AddTimes(const StateTimeArray& times)
    {
        for (int i = 0; i < kThreadStateCount; ++i)
            StateTimes[i] += times[i];
    }
    void SubtractTimes(const StateTimeArray& times)
    {
        for (int i = 0; i < kThreadStateCount; ++i)
            StateTimes[i] -= times[i];
    }

    /// Adds the samples one by one, each inserted at its sorted place (binary search).
    void AddSamples(std::span<const AddressSample> samples);
    void AddSample(uint64_t address, uint32_t count);
    /// Merges an ascending, duplicate-free array in one linear pass.
    void MergeSamples(std::span<const AddressSample> samples);
    /// Sum of the sample counts.
    uint64_t GetSampleCount() const;

    /// Adds `source`'s figures and, recursively, its children matched by function and call site.
    void MergeFrom(const CallGraphNode& source);
    /// Copies the times and replaces the samples with a copy of `other`'s.
    void CopyFigures(const CallGraphNode& other);
    /// This node's figures become end minus start; samples keep only the addresses whose count
    /// grew. `start`'s samples are expected to be a subset of `end`'s.
    void SubtractFigures(const CallGraphNode& start, const CallGraphNode& end);

    /// Appends the stored record of this node and its subtree.
    void Serialize(RecordWriter& writer) const;
    /// Reads a stored record and adds it into this subtree: this node's key is skipped, its
    /// figures added, children matched by full key or created. On malformed data returns false
    /// with an error in `errors`; what was read before the fault has been added. `children`, when
    /// given, is the index of every child created in this subtree so far: records added one after
    /// another into one root (one per thread) then find the root's children without indexing
    /// them again for every record.
    bool DeserializeAdd(RecordReader& reader, Serialization::ErrorList& errors,
                        ChildIndex* children = nullptr);

    NodeArena& GetArena() const { return Allocator->GetArena(); }
};

/// Size of a stored node record without times, samples or children.
inline constexpr std::size_t kMinimumNodeRecordBytes = 8 + 4 + 8 + 1 + 8 + 8;

} // namespace Profiler
