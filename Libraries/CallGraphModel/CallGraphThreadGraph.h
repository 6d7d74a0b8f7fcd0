#pragma once

#include "CallGraphModel/CallGraphNode.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace Profiler {

class RecordWriter;

/// A thread's cumulative call graph while its capture is processed. It is only ever merged into
/// (from the delta graphs) and written out (as Full snapshots), never walked by a query, so it
/// keeps each node in 40 bytes: 32-bit links instead of pointers and child arrays, and the
/// times and samples in shared pools that hold only the non-zero states and the addresses that
/// were sampled (a run that grows leaves its old place to the next run of that size). A CallGraphNode with
/// its arrays takes about 170 bytes, which on a capture whose call paths keep growing put most of
/// processing's memory into these graphs.
///
/// Merging and writing give exactly what a CallGraph does: the same sums in the same order, the
/// children in order of creation, the same record bytes.
class CallGraphThreadGraph {
public:
    CallGraphThreadGraph();

    /// Adds `source` and its subtree into the root, children matched by function (30-bit rule)
    /// and call site, as CallGraphNode::MergeFrom does.
    void MergeFrom(const CallGraphNode& source);
    /// Appends the stored record of the root and its subtree.
    void Serialize(RecordWriter& writer) const;

    /// Nodes below the root.
    std::size_t CountNodes() const { return mNodes.size() - 1; }
    /// At least the bytes that Serialize appends.
    std::size_t GetRecordBytesBound() const;
    /// Bytes held by the node, time and sample pools (their used parts).
    std::size_t GetUsedBytes() const;

private:
    static constexpr uint32_t kNone = ~uint32_t{0};

    struct Node {
        uint64_t FunctionAddress;
        uint64_t CallerAddress;
        uint32_t FunctionIndex;
        uint32_t FirstChild;  ///< kNone when there is none
        uint32_t NextSibling; ///< in order of creation; kNone for the last
        uint32_t Times;       ///< first of popcount(TimesMask) doubles in mTimes
        uint32_t Samples;     ///< the node's run of 2^SampleCapacityLog2 entries in mSamples
        uint16_t SampleCount; ///< kLargeSampleCount: the count is in mLargeSampleCounts
        uint8_t SampleCapacityLog2;
        uint8_t TimesMask; ///< bit i: state i has a slot (its value may still be 0.0)
    };
    static_assert(sizeof(Node) == 40);
    static constexpr uint16_t kLargeSampleCount = 0xFFFF;

    /// An address sample without the padding of AddressSample.
    struct PackedSample {
        uint32_t AddressLow;
        uint32_t AddressHigh;
        uint32_t Count;
        uint64_t GetAddress() const { return (uint64_t{AddressHigh} << 32) | AddressLow; }
    };

    struct ChildKey {
        uint64_t FunctionAddress;
        uint64_t CallerAddress;
        uint32_t FunctionIndex;
        uint32_t Node;
    };

    uint32_t CreateNode(const CallGraphNode& source);
    void AddFigures(uint32_t node, const CallGraphNode& source);
    void AddTimes(uint32_t node, const StateTimeArray& times);
    void MergeSamples(uint32_t node, std::span<const AddressSample> samples);
    /// The target child of every child of `source`, found among `target`'s children or created
    /// (appended in the source's order), into mTargets.
    void MatchChildren(uint32_t target, const CallGraphNode& source, bool targetCreated);
    void WriteNode(RecordWriter& writer, const Node& node) const;
    uint32_t GetSampleCount(uint32_t node) const;
    void SetSampleCount(uint32_t node, uint32_t count);

    std::vector<Node> mNodes; ///< node 0 is the root
    std::vector<double> mTimes;
    std::vector<PackedSample> mSamples;
    /// Runs left by nodes that outgrew them: times by size (1 to 8), samples by capacity log2.
    std::vector<uint32_t> mFreeTimes[kThreadStateCount + 1];
    std::vector<uint32_t> mFreeSamples[32];
    std::unordered_map<uint32_t, uint32_t> mLargeSampleCounts;

    // Scratch of MergeFrom, kept for the next merge.
    std::vector<uint32_t> mTargets;
    std::vector<ChildKey> mExisting;
    std::vector<uint32_t> mExistingIndex;
    std::vector<AddressSample> mMerged;
};

} // namespace Profiler
