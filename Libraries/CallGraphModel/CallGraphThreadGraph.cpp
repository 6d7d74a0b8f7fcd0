#include "CallGraphModel/CallGraphThreadGraph.h"

#include "CallGraphModel/RecordWriter.h"
#include "Utility/Assert.h"

#include <algorithm>
#include <bit>

namespace Profiler {

namespace {

/// Marks a matched child that this merge created: below it there is nothing to search.
constexpr uint32_t kCreatedBit = 0x80000000u;
/// Children matched by a linear scan up to this many; a hash beyond.
constexpr std::size_t kLinearLimit = 16;
constexpr std::size_t kSampleBytes = 8 + 4;

uint64_t HashKey(uint64_t functionAddress, uint32_t functionIndex, uint64_t callerAddress)
{
    uint64_t h = functionAddress * 0x9E3779B97F4A7C15ull;
    h ^= (uint64_t{functionIndex & ResolvedAddress::kIdentityMask} + (callerAddress << 7)) *
         0xBF58476D1CE4E5B9ull;
    h ^= callerAddress * 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

} // namespace

CallGraphThreadGraph::CallGraphThreadGraph()
{
    mNodes.push_back({0, kUnknownCallerAddress, kRootResolveIndex, kNone, kNone, 0, 0, 0, 0, 0});
}

std::size_t CallGraphThreadGraph::GetUsedBytes() const
{
    return mNodes.size() * sizeof(Node) + mTimes.size() * sizeof(double) +
           mSamples.size() * sizeof(PackedSample);
}

std::size_t CallGraphThreadGraph::GetRecordBytesBound() const
{
    // Every node's key, mask and two counts; every time and sample slot, used or not.
    return mNodes.size() * (8 + 4 + 8 + 1 + 8 + 8) + mTimes.size() * 8 + mSamples.size() * kSampleBytes;
}

uint32_t CallGraphThreadGraph::CreateNode(const CallGraphNode& source)
{
    QX_ASSERT(mNodes.size() < kCreatedBit, "a thread's graph holds at most 2^31 nodes");
    const auto index = static_cast<uint32_t>(mNodes.size());
    mNodes.push_back(
        {source.FunctionAddress, source.CallerAddress, source.FunctionIndex, kNone, kNone, 0, 0, 0, 0, 0});
    return index;
}

void CallGraphThreadGraph::AddTimes(uint32_t index, const StateTimeArray& times)
{
    uint8_t present = 0;
    for (int i = 0; i < kThreadStateCount; ++i)
        if (times[i] != 0.0)
            present |= static_cast<uint8_t>(1u << i);
    Node& node = mNodes[index];
    // A state without a slot holds 0.0, and adding a zero leaves it so: only states with a
    // non-zero time need one.
    if (const uint8_t missing = present & ~node.TimesMask) {
        double old[kThreadStateCount];
        const int oldCount = std::popcount(node.TimesMask);
        std::copy_n(mTimes.data() + node.Times, oldCount, old);
        const uint8_t mask = node.TimesMask | missing;
        if (oldCount > 0)
            mFreeTimes[oldCount].push_back(node.Times);
        std::vector<uint32_t>& free = mFreeTimes[std::popcount(mask)];
        uint32_t offset = 0;
        if (!free.empty()) {
            offset = free.back();
            free.pop_back();
        } else {
            offset = static_cast<uint32_t>(mTimes.size());
            mTimes.resize(mTimes.size() + std::popcount(mask));
        }
        double* slot = mTimes.data() + offset;
        int from = 0;
        for (int i = 0; i < kThreadStateCount; ++i) {
            if ((mask & (1u << i)) == 0)
                continue;
            *slot++ = (node.TimesMask & (1u << i)) != 0 ? old[from++] : 0.0;
        }
        node.Times = offset;
        node.TimesMask = mask;
    }
    double* slot = mTimes.data() + node.Times;
    for (int i = 0; i < kThreadStateCount; ++i)
        if ((node.TimesMask & (1u << i)) != 0)
            *slot++ += times[i];
}

uint32_t CallGraphThreadGraph::GetSampleCount(uint32_t node) const
{
    const uint16_t count = mNodes[node].SampleCount;
    return count != kLargeSampleCount ? count : mLargeSampleCounts.at(node);
}

void CallGraphThreadGraph::SetSampleCount(uint32_t node, uint32_t count)
{
    if (count < kLargeSampleCount) {
        mNodes[node].SampleCount = static_cast<uint16_t>(count);
        return;
    }
    mNodes[node].SampleCount = kLargeSampleCount;
    mLargeSampleCounts[node] = count;
}

void CallGraphThreadGraph::MergeSamples(uint32_t index, std::span<const AddressSample> samples)
{
    if (samples.empty())
        return;
    const uint32_t size = GetSampleCount(index);
    mMerged.clear();
    if (size == 0) {
        mMerged.assign(samples.begin(), samples.end());
    } else {
        const PackedSample* mine = mSamples.data() + mNodes[index].Samples;
        const PackedSample* mineEnd = mine + size;
        auto theirs = samples.begin();
        while (mine != mineEnd || theirs != samples.end()) {
            if (theirs == samples.end() || (mine != mineEnd && mine->GetAddress() < theirs->Address)) {
                mMerged.push_back({mine->GetAddress(), mine->Count});
                ++mine;
            } else if (mine == mineEnd || theirs->Address < mine->GetAddress()) {
                mMerged.push_back(*theirs++);
            } else {
                mMerged.push_back({theirs->Address, mine->Count + theirs->Count});
                ++mine;
                ++theirs;
            }
        }
    }
    const auto merged = static_cast<uint32_t>(mMerged.size());
    Node& node = mNodes[index];
    if (size == 0 || merged > (1u << node.SampleCapacityLog2)) {
        // Most nodes are sampled at one address; a run grows only when an address is added.
        if (size != 0)
            mFreeSamples[node.SampleCapacityLog2].push_back(node.Samples);
        const auto log2 = static_cast<uint8_t>(std::bit_width(std::bit_ceil(merged)) - 1);
        std::vector<uint32_t>& free = mFreeSamples[log2];
        if (!free.empty()) {
            node.Samples = free.back();
            free.pop_back();
        } else {
            node.Samples = static_cast<uint32_t>(mSamples.size());
            mSamples.resize(mSamples.size() + (std::size_t{1} << log2));
        }
        node.SampleCapacityLog2 = log2;
    }
    SetSampleCount(index, merged);
    PackedSample* out = mSamples.data() + mNodes[index].Samples;
    for (const AddressSample& sample : mMerged)
        *out++ = {static_cast<uint32_t>(sample.Address), static_cast<uint32_t>(sample.Address >> 32),
                  sample.Count};
}

void CallGraphThreadGraph::AddFigures(uint32_t index, const CallGraphNode& source)
{
    AddTimes(index, source.StateTimes);
    MergeSamples(index, source.AddressSamples.Span());
}

void CallGraphThreadGraph::MatchChildren(uint32_t target, const CallGraphNode& source, bool targetCreated)
{
    if (source.Children.empty())
        return;
    uint32_t last = kNone;
    auto append = [&](const CallGraphNode& child) {
        const uint32_t created = CreateNode(child);
        if (last == kNone)
            mNodes[target].FirstChild = created;
        else
            mNodes[last].NextSibling = created;
        last = created;
        return created;
    };
    // A node made by this merge only has the children that the source gives it, whose keys
    // are unique per parent.
    if (targetCreated) {
        for (const CallGraphNode* child : source.Children)
            mTargets.push_back(append(*child) | kCreatedBit);
        return;
    }

    mExisting.clear();
    for (uint32_t child = mNodes[target].FirstChild; child != kNone; child = mNodes[child].NextSibling) {
        const Node& node = mNodes[child];
        mExisting.push_back({node.FunctionAddress, node.CallerAddress, node.FunctionIndex, child});
        last = child;
    }
    const bool hashed = mExisting.size() > kLinearLimit;
    std::size_t mask = 0;
    // Adds mExisting's entry `entry` unless an earlier child has its key: the first one is the
    // one found.
    auto insert = [&](uint32_t entry) {
        const ChildKey& key = mExisting[entry];
        for (std::size_t i = HashKey(key.FunctionAddress, key.FunctionIndex, key.CallerAddress) & mask;;
             i = (i + 1) & mask) {
            const uint32_t slot = mExistingIndex[i];
            if (slot == 0) {
                mExistingIndex[i] = entry + 1;
                return;
            }
            const ChildKey& other = mExisting[slot - 1];
            if (other.FunctionAddress == key.FunctionAddress && other.CallerAddress == key.CallerAddress &&
                ((other.FunctionIndex ^ key.FunctionIndex) & ResolvedAddress::kIdentityMask) == 0)
                return;
        }
    };
    if (hashed) {
        const std::size_t capacity = std::bit_ceil(2 * (mExisting.size() + source.Children.size()));
        mExistingIndex.assign(capacity, 0);
        mask = capacity - 1;
        for (uint32_t entry = 0; entry < mExisting.size(); ++entry)
            insert(entry);
    }
    for (const CallGraphNode* child : source.Children) {
        const uint32_t identity = child->FunctionIndex & ResolvedAddress::kIdentityMask;
        uint32_t found = kNone;
        if (hashed) {
            for (std::size_t i =
                     HashKey(child->FunctionAddress, child->FunctionIndex, child->CallerAddress) & mask;
                 mExistingIndex[i] != 0; i = (i + 1) & mask) {
                const ChildKey& key = mExisting[mExistingIndex[i] - 1];
                if (key.FunctionAddress == child->FunctionAddress &&
                    key.CallerAddress == child->CallerAddress &&
                    (key.FunctionIndex & ResolvedAddress::kIdentityMask) == identity) {
                    found = key.Node;
                    break;
                }
            }
        } else {
            for (const ChildKey& key : mExisting)
                if (key.FunctionAddress == child->FunctionAddress &&
                    key.CallerAddress == child->CallerAddress &&
                    (key.FunctionIndex & ResolvedAddress::kIdentityMask) == identity) {
                    found = key.Node;
                    break;
                }
        }
        if (found != kNone) {
            mTargets.push_back(found);
            continue;
        }
        const uint32_t created = append(*child);
        mTargets.push_back(created | kCreatedBit);
        mExisting.push_back({child->FunctionAddress, child->CallerAddress, child->FunctionIndex, created});
        if (hashed)
            insert(static_cast<uint32_t>(mExisting.size() - 1));
    }
}

void CallGraphThreadGraph::MergeFrom(const CallGraphNode& source)
{
    // Iterative, so that the depth of a graph never meets the depth of the thread's stack. Each
    // level's children are matched before the first of them is descended into, which creates
    // them in the order a recursive merge does.
    struct Frame {
        const CallGraphNode* source;
        std::size_t targets; ///< where the targets of the source's children start in mTargets
        uint32_t next;
    };
    AddFigures(0, source);
    mTargets.clear();
    MatchChildren(0, source, false);
    std::vector<Frame> stack{{&source, 0, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.source->Children.size()) {
            mTargets.resize(frame.targets);
            stack.pop_back();
            continue;
        }
        const uint32_t i = frame.next++;
        const CallGraphNode& child = *frame.source->Children[i];
        const uint32_t matched = mTargets[frame.targets + i];
        const uint32_t target = matched & ~kCreatedBit;
        AddFigures(target, child);
        const std::size_t begin = mTargets.size();
        MatchChildren(target, child, (matched & kCreatedBit) != 0);
        stack.push_back({&child, begin, 0});
    }
}

void CallGraphThreadGraph::WriteNode(RecordWriter& writer, const Node& node) const
{
    const uint32_t sampleCount = GetSampleCount(static_cast<uint32_t>(&node - mNodes.data()));
    std::size_t childCount = 0;
    for (uint32_t child = node.FirstChild; child != kNone; child = mNodes[child].NextSibling)
        ++childCount;
    const std::size_t maxBytes = 8 + 4 + 8 + 1 + 8 * kThreadStateCount + 8 + sampleCount * kSampleBytes + 8;
    uint8_t* const begin = writer.Extend(maxBytes);
    uint8_t* out = begin;
    RecordWriter::StoreLittleEndian(out, node.FunctionAddress);
    RecordWriter::StoreLittleEndian(out + 8, node.FunctionIndex);
    RecordWriter::StoreLittleEndian(out + 12, node.CallerAddress);
    uint8_t* mask = out + 20;
    out += 21;
    *mask = 0;
    const double* slot = mTimes.data() + node.Times;
    for (int i = 0; i < kThreadStateCount; ++i) {
        if ((node.TimesMask & (1u << i)) == 0)
            continue;
        const double time = *slot++;
        if (time != 0.0) {
            *mask |= static_cast<uint8_t>(1u << i);
            RecordWriter::StoreLittleEndian(out, time);
            out += 8;
        }
    }
    RecordWriter::StoreLittleEndian(out, uint64_t{sampleCount});
    out += 8;
    if (sampleCount != 0) {
        const PackedSample* sample = mSamples.data() + node.Samples;
        for (uint32_t i = 0; i < sampleCount; ++i, ++sample) {
            RecordWriter::StoreLittleEndian(out, sample->GetAddress());
            RecordWriter::StoreLittleEndian(out + 8, sample->Count);
            out += kSampleBytes;
        }
    }
    RecordWriter::StoreLittleEndian(out, uint64_t{childCount});
    out += 8;
    auto& buffer = writer.GetBuffer();
    buffer.resize(buffer.size() - (maxBytes - static_cast<std::size_t>(out - begin)));
}

void CallGraphThreadGraph::Serialize(RecordWriter& writer) const
{
    // Each entry is the next child to write at one depth.
    std::vector<uint32_t> stack;
    WriteNode(writer, mNodes[0]);
    stack.push_back(mNodes[0].FirstChild);
    while (!stack.empty()) {
        const uint32_t next = stack.back();
        if (next == kNone) {
            stack.pop_back();
            continue;
        }
        const Node& node = mNodes[next];
        stack.back() = node.NextSibling;
        WriteNode(writer, node);
        stack.push_back(node.FirstChild);
    }
}

} // namespace Profiler
