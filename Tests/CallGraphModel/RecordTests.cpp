#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphThreadGraph.h"
#include "CallGraphModel/RecordWriter.h"
#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <random>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

/// Appends one stored node record, spelled out field by field; its children follow it.
void AddRecord(std::vector<uint8_t>& bytes, uint64_t address, uint32_t index, uint64_t caller, uint8_t mask,
               std::vector<double> times, std::vector<AddressSample> samples, uint64_t children)
{
    RecordWriter writer(bytes);
    writer.Write(address);
    writer.Write(index);
    writer.Write(caller);
    writer.Write(mask);
    for (double time : times)
        writer.Write(time);
    writer.Write(uint64_t{samples.size()});
    for (const AddressSample& sample : samples) {
        writer.Write(sample.Address);
        writer.Write(sample.Count);
    }
    writer.Write(children);
}

} // namespace

TEST(CallGraphRecord, LayoutOmitsZeroTimes)
{
    CallGraph graph;
    CallGraphNode* child = graph.GetRoot().AddChild({0x1000, 0xC400'0001u}, 0x44);
    child->StateTimes[1] = 2.5;
    child->StateTimes[6] = 1.0;
    child->AddSample(0x10, 3);
    child->AddChild({0x2000, 1}, kUnknownCallerAddress); // all times zero

    std::vector<uint8_t> expected;
    AddRecord(expected, 0, 0xFFFFFFFFu, ~uint64_t{0}, 0, {}, {}, 1);
    // All 32 bits of the index are stored.
    AddRecord(expected, 0x1000, 0xC400'0001u, 0x44, 0x42, {2.5, 1.0}, {{0x10, 3}}, 1);
    AddRecord(expected, 0x2000, 1, ~uint64_t{0}, 0, {}, {}, 0);
    EXPECT_EQ(SerializeTree(graph.GetRoot()), expected);
}

TEST(CallGraphRecord, DeserializeSkipsTheRootKeyAndAddsByFullKey)
{
    FunctionNames names;
    CallGraph stored;
    AddStacks(stored.GetRoot(), "main;a 1 samples=0x10:1\nmain;a@0x8 2", names);
    stored.GetRoot().StateTimes[0] = 0.5;
    stored.GetRoot().FunctionAddress = 0x777;
    CallGraph target;
    AddStacks(target.GetRoot(), "main;a@0x8 1 samples=0x20:1", names);

    Serialization::ErrorList errors;
    ASSERT_TRUE(DeserializeAdd(target.GetRoot(), SerializeTree(stored.GetRoot()), errors)) << errors.ToString();
    EXPECT_EQ(target.GetRoot().StateTimes[0], 0.5);
    EXPECT_EQ(target.GetRoot().FunctionAddress, 0u);
    EXPECT_EQ(Dump(target.GetRoot(), names), "main 4\n"
                                             "  a@0x8 3 {0x20:1}\n"
                                             "  a 1 {0x10:1}\n");
}

TEST(CallGraphRecord, MalformedCountsAndSamplesAreRejected)
{
    std::vector<uint8_t> hugeSamples;
    AddRecord(hugeSamples, 0, 0, 0, 0, {}, {}, 0);
    hugeSamples[21] = 0xFF; // the sample count's low byte...
    hugeSamples[27] = 0x7F; // ...and its high byte
    std::vector<uint8_t> unsorted;
    AddRecord(unsorted, 0, 0, 0, 0, {}, {{0x20, 1}, {0x10, 1}}, 0);
    std::vector<uint8_t> hugeChildren;
    AddRecord(hugeChildren, 0, 0, 0, 0, {}, {}, uint64_t{1} << 60);
    // A chain of nested single children whose innermost claims one more than there is.
    std::vector<uint8_t> deep;
    for (int i = 0; i < 1000; ++i)
        AddRecord(deep, 0x100, 1, 0, 0, {}, {}, i == 999 ? 2 : 1);

    for (const std::vector<uint8_t>& bytes : {hugeSamples, unsorted, hugeChildren, deep}) {
        CallGraph target;
        Serialization::ErrorList errors;
        EXPECT_FALSE(DeserializeAdd(target.GetRoot(), bytes, errors));
        EXPECT_FALSE(errors.IsEmpty());
    }
}

// The processing's compact cumulative graph must write, merge after merge, the very bytes of a
// CallGraph fed the same deltas: the same sums in the same order (times here are not exact in
// any order), children in order of creation, zero times left out, keys that differ only in the
// flag bits taken as one. Forty functions under three call sites make the root wider than a
// linear scan handles.
TEST(CallGraphRecord, ThreadGraphWritesWhatACallGraphWrites)
{
    std::mt19937_64 random(29);
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    FunctionNames names;
    for (int trial = 0; trial < 12; ++trial) {
        CallGraph reference;
        CallGraphThreadGraph compact;
        for (int round = 0; round < 6; ++round) {
            CallGraph delta;
            for (int stack = 0; stack < 80; ++stack) {
                std::vector<Frame> frames;
                const int depth = uniform(1, 6);
                for (int level = 0; level < depth; ++level) {
                    Frame frame{names.Get("f" + std::to_string(uniform(0, level == 0 ? 39 : 4))),
                                static_cast<uint64_t>(0x10 * uniform(0, 2))};
                    if (uniform(0, 7) == 0)
                        frame.function.ResolveIndex |= 0x40000000u;
                    frames.push_back(frame);
                }
                StateTimeArray times{};
                for (double& time : times)
                    if (uniform(0, 3) == 0)
                        time = std::uniform_real_distribution<double>(-1.0, 3.0)(random);
                std::vector<AddressSample> samples;
                for (int i = uniform(0, 3); i > 0; --i)
                    samples.push_back({0x100 + 4 * static_cast<uint64_t>(uniform(0, 6)), 1});
                AddStack(delta.GetRoot(), frames, times, samples);
            }
            // More addresses than a node counts in place.
            if (trial == 0 && round == 1) {
                std::vector<AddressSample> many;
                for (uint64_t address = 0; address < 70000; ++address)
                    many.push_back({0x1000 + 4 * address, 1});
                AddStack(delta.GetRoot(), {{names.Get("f0")}}, {}, many);
            }
            // A node whose time goes back to exactly zero keeps no time in the record.
            const StateTimeArray solo{0.0, round % 2 == 0 ? 2.5 : -2.5, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
            AddStack(delta.GetRoot(), {{names.Get("solo")}}, solo);
            reference.GetRoot().MergeFrom(delta.GetRoot());
            compact.MergeFrom(delta.GetRoot());
            std::vector<uint8_t> bytes;
            RecordWriter writer(bytes);
            compact.Serialize(writer);
            ASSERT_EQ(bytes, SerializeTree(reference.GetRoot())) << "trial " << trial << ", round " << round;
            EXPECT_EQ(compact.CountNodes(), reference.CountNodes());
        }
    }
}
