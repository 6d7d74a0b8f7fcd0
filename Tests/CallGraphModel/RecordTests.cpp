#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <random>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

std::vector<uint8_t> Serialize(const CallGraph& graph)
{
    std::vector<uint8_t> buffer;
    RecordWriter writer(buffer);
    graph.GetRoot().Serialize(writer);
    return buffer;
}

bool DeserializeAdd(CallGraph& graph, std::span<const uint8_t> bytes, Serialization::ErrorList& errors)
{
    RecordReader reader(bytes);
    return graph.GetRoot().DeserializeAdd(reader, errors);
}

/// Little-endian bytes of a record, spelled out field by field.
class Bytes {
public:
    template <class T> Bytes& Add(T value)
    {
        RecordWriter(mBytes).Write(value);
        return *this;
    }
    const std::vector<uint8_t>& Get() const { return mBytes; }

private:
    std::vector<uint8_t> mBytes;
};

} // namespace

TEST(CallGraphRecord, LayoutOmitsZeroTimes)
{
    CallGraph graph;
    CallGraphNode* child = graph.GetRoot().AddChild({0x1000, 0xC400'0001u}, 0x44);
    child->StateTimes[1] = 2.5;
    child->StateTimes[6] = 1.0;
    child->AddSample(0x10, 3);
    child->AddChild({0x2000, 1}, kUnknownCallerAddress); // all times zero

    const std::vector<uint8_t> expected = Bytes()
                                              // root
                                              .Add(uint64_t{0})
                                              .Add(uint32_t{0xFFFFFFFF})
                                              .Add(~uint64_t{0})
                                              .Add(uint8_t{0})
                                              .Add(uint64_t{0})
                                              .Add(uint64_t{1})
                                              // child: all 32 bits of the index are written
                                              .Add(uint64_t{0x1000})
                                              .Add(uint32_t{0xC400'0001u})
                                              .Add(uint64_t{0x44})
                                              .Add(uint8_t{0x42})
                                              .Add(2.5)
                                              .Add(1.0)
                                              .Add(uint64_t{1})
                                              .Add(uint64_t{0x10})
                                              .Add(uint32_t{3})
                                              .Add(uint64_t{1})
                                              // grandchild
                                              .Add(uint64_t{0x2000})
                                              .Add(uint32_t{1})
                                              .Add(~uint64_t{0})
                                              .Add(uint8_t{0})
                                              .Add(uint64_t{0})
                                              .Add(uint64_t{0})
                                              .Get();
    EXPECT_EQ(Serialize(graph), expected);
}

TEST(CallGraphRecord, DeserializeAddsIntoAnExistingGraphByFullKey)
{
    FunctionNames names;
    CallGraph stored;
    AddStacks(stored.GetRoot(), R"(
        main;a 1 samples=0x10:1,0x30:1
        main;a@0x8 2
        main;b 1 Sleep=1
    )",
              names);
    // The stored root's key and figures: the key is skipped, the figures added.
    stored.GetRoot().StateTimes[0] = 0.5;
    stored.GetRoot().FunctionAddress = 0x777;

    CallGraph target;
    AddStacks(target.GetRoot(), R"(
        main;b 4
        main;a@0x8 1 samples=0x20:1
        main;c 1
    )",
              names);
    Serialization::ErrorList errors;
    ASSERT_TRUE(DeserializeAdd(target, Serialize(stored), errors)) << errors.ToString();
    EXPECT_EQ(target.GetRoot().StateTimes[0], 0.5);
    EXPECT_EQ(target.GetRoot().FunctionAddress, 0u);
    EXPECT_EQ(Dump(target.GetRoot(), names), "main 11 Executing=10 Sleep=1\n"
                                             "  b 6 Executing=5 Sleep=1\n"
                                             "  a@0x8 3 {0x20:1}\n"
                                             "  c 1\n"
                                             "  a 1 {0x10:1 0x30:1}\n");
}

TEST(CallGraphRecord, EveryTruncationFailsCleanly)
{
    FunctionNames names;
    CallGraph graph;
    AddStacks(graph.GetRoot(), R"(
        main;a;b 1 Sleep=2 samples=0x10:1,0x20:2
        main;a;c 3
        main;d 1 samples=0x30:1
    )",
              names);
    const std::vector<uint8_t> bytes = Serialize(graph);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        CallGraph target;
        Serialization::ErrorList errors;
        EXPECT_FALSE(DeserializeAdd(target, std::span(bytes).first(size), errors)) << "size " << size;
        ASSERT_EQ(errors.GetCount(), 1u);
        EXPECT_EQ(errors.GetErrors()[0].code, Serialization::EErrorCode::Corrupt);
    }
    CallGraph target;
    Serialization::ErrorList errors;
    EXPECT_TRUE(DeserializeAdd(target, bytes, errors));
    EXPECT_EQ(Dump(target.GetRoot(), names), Dump(graph.GetRoot(), names));
}

TEST(CallGraphRecord, CountsBeyondTheDataAreRejectedBeforeAllocating)
{
    const auto header = [] {
        return Bytes().Add(uint64_t{0}).Add(uint32_t{0}).Add(uint64_t{0}).Add(uint8_t{0});
    };
    const std::vector<uint8_t> hugeSamples = header().Add(~uint64_t{0} / 2).Add(uint64_t{0}).Get();
    const std::vector<uint8_t> hugeChildren = header().Add(uint64_t{0}).Add(uint64_t{1} << 60).Get();
    // A chain of nested single children claims one more than there is.
    Bytes deep = header().Add(uint64_t{0}).Add(uint64_t{1});
    for (int i = 0; i < 1000; ++i)
        deep.Add(uint64_t{0x100})
            .Add(uint32_t{1})
            .Add(uint64_t{0})
            .Add(uint8_t{0})
            .Add(uint64_t{0})
            .Add(uint64_t{i == 999 ? 2u : 1u});

    for (const std::vector<uint8_t>& bytes : {hugeSamples, hugeChildren, deep.Get()}) {
        CallGraph target;
        Serialization::ErrorList errors;
        EXPECT_FALSE(DeserializeAdd(target, bytes, errors));
        EXPECT_FALSE(errors.IsEmpty());
    }
}

TEST(CallGraphRecord, RandomBytesNeverCrash)
{
    FunctionNames names;
    CallGraph graph;
    AddStacks(graph.GetRoot(), "main;a;b 1 Sleep=2 samples=0x10:1,0x20:2\nmain;a;c 3\nmain;d 1", names);
    const std::vector<uint8_t> bytes = Serialize(graph);
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> corrupt = bytes;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            corrupt[random() % corrupt.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        CallGraph target;
        Serialization::ErrorList errors;
        const bool ok = DeserializeAdd(target, corrupt, errors);
        EXPECT_EQ(ok, errors.IsEmpty());
    }
}
