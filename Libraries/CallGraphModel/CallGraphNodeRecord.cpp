// The stored record of a node and its subtree, as kept inside snapshots:
//   RelativeAddress u64, ResolveIndex u32, CallerAddress u64, mask u8 (bit i: StateTimes[i] != 0),
//   one double per set mask bit, sample count u64, samples {u64 address, u32 count}...,
//   child count u64, child records...
// little-endian, no padding.

#include "CallGraphModel/CallGraphNode.h"
#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "Utility/ErrorList.h"

#include <vector>

namespace Profiler {

namespace {

constexpr std::size_t kSampleBytes = 8 + 4;

void WriteNodeFigures(RecordWriter& writer, const CallGraphNode& node)
{
    const std::size_t maxBytes =
        8 + 4 + 8 + 1 + 8 * kThreadStateCount + 8 + node.AddressSamples.size() * kSampleBytes;
    uint8_t* const begin = writer.Extend(maxBytes);
    uint8_t* out = begin;
    RecordWriter::StoreLittleEndian(out, node.FunctionAddress);
    RecordWriter::StoreLittleEndian(out + 8, node.FunctionIndex);
    RecordWriter::StoreLittleEndian(out + 12, node.CallerAddress);
    uint8_t* mask = out + 20;
    out += 21;
    *mask = 0;
    for (int i = 0; i < kThreadStateCount; ++i) {
        if (node.StateTimes[i] != 0.0) {
            *mask |= static_cast<uint8_t>(1u << i);
            RecordWriter::StoreLittleEndian(out, node.StateTimes[i]);
            out += 8;
        }
    }
    RecordWriter::StoreLittleEndian(out, uint64_t{node.AddressSamples.size()});
    out += 8;
    for (const AddressSample& sample : node.AddressSamples) {
        RecordWriter::StoreLittleEndian(out, sample.Address);
        RecordWriter::StoreLittleEndian(out + 8, sample.Count);
        out += kSampleBytes;
    }
    // Give back what the omitted zero times did not use.
    auto& buffer = writer.GetBuffer();
    buffer.resize(buffer.size() - (maxBytes - static_cast<std::size_t>(out - begin)));
}

bool Fail(Serialization::ErrorList& errors, const char* what, std::size_t offset)
{
    errors.AddFormatted(Serialization::EErrorCode::Corrupt, "Call graph record is corrupt: %s at byte %zu",
                        what, offset);
    return false;
}

struct RecordKey {
    ResolvedAddress function;
    uint64_t callerAddress;
};

bool ReadKey(RecordReader& reader, RecordKey& key)
{
    return reader.Read(key.function.RelativeAddress) && reader.Read(key.function.ResolveIndex) &&
           reader.Read(key.callerAddress);
}

/// Reads the times and samples of one record into `node`, then its child count.
bool ReadFiguresAdd(RecordReader& reader, CallGraphNode& node, uint64_t& childCount,
                    std::vector<AddressSample>& scratch, Serialization::ErrorList& errors)
{
    uint8_t mask = 0;
    if (!reader.Read(mask))
        return Fail(errors, "truncated times", reader.GetOffset());
    for (int i = 0; i < kThreadStateCount; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        double time = 0.0;
        if (!reader.Read(time))
            return Fail(errors, "truncated times", reader.GetOffset());
        node.StateTimes[i] += time;
    }
    uint64_t sampleCount = 0;
    if (!reader.Read(sampleCount))
        return Fail(errors, "truncated sample count", reader.GetOffset());
    if (sampleCount > reader.GetRemaining() / kSampleBytes)
        return Fail(errors, "sample count beyond the end of the data", reader.GetOffset());
    const uint8_t* samples = reader.Take(sampleCount * kSampleBytes);
    // Stored samples ascend, so one linear merge adds them all; out of order they are corrupt
    // (and would cost a quadratic number of insertions).
    scratch.resize(sampleCount);
    for (uint64_t i = 0; i < sampleCount; ++i, samples += kSampleBytes) {
        scratch[i] = {RecordReader::LoadLittleEndian<uint64_t>(samples),
                      RecordReader::LoadLittleEndian<uint32_t>(samples + 8)};
        if (i > 0 && scratch[i].Address <= scratch[i - 1].Address)
            return Fail(errors, "sample addresses out of order", reader.GetOffset());
    }
    node.MergeSamples(scratch);
    if (!reader.Read(childCount))
        return Fail(errors, "truncated child count", reader.GetOffset());
    if (childCount > reader.GetRemaining() / kMinimumNodeRecordBytes)
        return Fail(errors, "child count beyond the end of the data", reader.GetOffset());
    return true;
}

} // namespace

void CallGraphNode::Serialize(RecordWriter& writer) const
{
    // Iterative so that the depth of a graph never meets the depth of the thread's stack.
    struct Frame {
        const CallGraphNode* node;
        uint32_t nextChild;
    };
    std::vector<Frame> stack;
    WriteNodeFigures(writer, *this);
    writer.Write(uint64_t{Children.size()});
    stack.push_back({this, 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.nextChild == frame.node->Children.size()) {
            stack.pop_back();
            continue;
        }
        const CallGraphNode* child = frame.node->Children[frame.nextChild++];
        WriteNodeFigures(writer, *child);
        writer.Write(uint64_t{child->Children.size()});
        stack.push_back({child, 0});
    }
}

bool CallGraphNode::DeserializeAdd(RecordReader& reader, Serialization::ErrorList& errors,
                                   ChildIndex* children)
{
    struct Frame {
        CallGraphNode* node;
        uint64_t childrenLeft;
        bool created; ///< made by this read: its children can only come from this record
    };
    RecordKey key;
    if (!ReadKey(reader, key))
        return Fail(errors, "truncated node key", reader.GetOffset());
    uint64_t childCount = 0;
    std::vector<AddressSample> scratch;
    if (!ReadFiguresAdd(reader, *this, childCount, scratch, errors))
        return false;
    // Each frame stands for at least one unread record, so the stack is bounded by the input.
    std::vector<Frame> stack;
    stack.push_back({this, childCount, false});
    ChildIndex ownIndex;
    ChildIndex& index = children != nullptr ? *children : ownIndex;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.childrenLeft == 0) {
            stack.pop_back();
            continue;
        }
        --frame.childrenLeft;
        CallGraphNode* parent = frame.node;
        if (!ReadKey(reader, key))
            return Fail(errors, "truncated node key", reader.GetOffset());
        // A record holds each key once per parent, so below a node that this read made there is
        // nothing to find: a first record (or a new subtree of a later one) goes in without any
        // search, which is most of the work when a graph keeps growing.
        CallGraphNode* child = nullptr;
        bool created = frame.created;
        if (created) {
            child = parent->AddChild(key.function, key.callerAddress);
        } else {
            const std::size_t before = parent->Children.size();
            child = index.FindOrCreate(*parent, key.function, key.callerAddress);
            created = parent->Children.size() != before;
        }
        if (!ReadFiguresAdd(reader, *child, childCount, scratch, errors))
            return false;
        stack.push_back({child, childCount, created});
    }
    return true;
}

} // namespace Profiler
