#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "CallGraphModel/NodeArena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace Profiler;
using namespace CallGraphTest;

TEST(ResolvedAddress, IdentityIgnoresTheTopTwoBitsOfTheIndex)
{
    const ResolvedAddress plain{0x1234, 0x0400'0007};
    const ResolvedAddress flagged{0x1234, 0xC400'0007};
    EXPECT_EQ(plain, flagged);
    EXPECT_EQ(HashResolvedAddress(plain), HashResolvedAddress(flagged));
    EXPECT_NE(plain, (ResolvedAddress{0x1234, 0x0400'0008}));
    EXPECT_NE(plain, (ResolvedAddress{0x1235, 0x0400'0007}));
    EXPECT_NE(plain, (ResolvedAddress{0x1234, 0x2400'0007})); // bit 29 is part of the kind

    // FNV-1a over the four identity bytes of the index, then the eight address bytes, LSB first.
    const uint8_t bytes[] = {0x07, 0x00, 0x00, 0x04, 0x34, 0x12, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(HashResolvedAddress(flagged), Utility::Fnv1a(bytes, sizeof(bytes)));
}

TEST(CallGraphNode, ChildrenAreKeyedByFunctionAndCallSite)
{
    CallGraph graph;
    CallGraphNode& root = graph.GetRoot();

    const ResolvedAddress f{0x100, 1};
    CallGraphNode* first = root.FindOrCreateChild(f, 0x10);
    CallGraphNode* second = root.FindOrCreateChild(f, 0x20);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->Depth, 0u);
    EXPECT_EQ(first->Parent, &root);
    EXPECT_EQ(root.FindChild(f), first);
    EXPECT_EQ(root.FindChild(f, 0x20), second);
    EXPECT_EQ(root.FindChild(f, 0x30), nullptr);
    EXPECT_EQ(root.FindOrCreateChild(f, 0x30, true), first);
    // Flags outside the identity find the same node.
    EXPECT_EQ(root.FindOrCreateChild({0x100, 0xC000'0001u}, 0x20), second);
    EXPECT_EQ(root.Children.size(), 2u);

    CallGraphNode* duplicate = root.AddChild(f, 0x10);
    EXPECT_EQ(root.Children.size(), 3u);
    EXPECT_EQ(root.FindChild(f, 0x10), first);
    CallGraphNode* grandchild = duplicate->AddChild({0x200, 1}, 0x11);
    EXPECT_EQ(grandchild->Depth, 1u);
    EXPECT_EQ(grandchild->Allocator, &graph.GetAllocator());
}

TEST(CallGraphNode, SamplesStaySortedWithoutDuplicates)
{
    FunctionNames names;
    CallGraph graph;
    CallGraphNode* node = graph.GetRoot().AddChild(names.Get("f"), kUnknownCallerAddress);
    node->AddSamples(
        std::vector<AddressSample>{{0x30, 1}, {0x10, 2}, {0x20, 1}, {0x10, 3}, {0x40, 1}, {0x05, 1}});
    EXPECT_EQ(Dump(graph.GetRoot(), names), "f 0 {0x5:1 0x10:5 0x20:1 0x30:1 0x40:1}\n");
    EXPECT_EQ(node->GetSampleCount(), 9u);
    node->MergeSamples(std::vector<AddressSample>{{0x01, 1}, {0x10, 1}, {0x25, 2}, {0x50, 4}});
    EXPECT_EQ(Dump(graph.GetRoot(), names), "f 0 {0x1:1 0x5:1 0x10:6 0x20:1 0x25:2 0x30:1 0x40:1 0x50:4}\n");
}

TEST(CallGraphNode, MergeFromAddsIntoMatchingChildrenAndAppendsNewOnes)
{
    FunctionNames names;
    CallGraph source;
    AddStacks(source.GetRoot(), "main;b;x 2 samples=0x20:1\nmain;a 1 Sleep=3\nmain;a@0x44 1", names);
    CallGraph target;
    AddStacks(target.GetRoot(), "main;c 1 samples=0x20:1\nmain;b;x 0 samples=0x18:1", names);
    target.GetRoot().MergeFrom(source.GetRoot());
    EXPECT_EQ(Dump(target.GetRoot(), names), "main 8 Executing=5 Sleep=3\n"
                                             "  c 1 {0x20:1}\n"
                                             "  b 2\n"
                                             "    x 2 {0x18:1 0x20:1}\n"
                                             "  a 4 Executing=1 Sleep=3\n"
                                             "  a@0x44 1\n");
}

TEST(CallGraphNode, CopyAndSubtractFigures)
{
    FunctionNames names;
    CallGraph graph;
    AddStacks(graph.GetRoot(), R"(
        start 1 Sleep=2 samples=0x10:2,0x20:1,0x30:5
        end 3 Sleep=2 IO=1 samples=0x08:1,0x10:2,0x20:4,0x30:6,0x40:1
    )",
              names);
    const CallGraphNode& start = *graph.GetRoot().Children[0];
    const CallGraphNode& end = *graph.GetRoot().Children[1];

    CallGraphNode* copy = graph.GetRoot().AddChild(names.Get("copy"), kUnknownCallerAddress);
    copy->AddSample(0x99, 1);
    copy->CopyFigures(end);
    CallGraphNode* difference = graph.GetRoot().AddChild(names.Get("difference"), kUnknownCallerAddress);
    difference->SubtractFigures(start, end);
    CallGraphNode* nothing = graph.GetRoot().AddChild(names.Get("nothing"), kUnknownCallerAddress);
    nothing->SubtractFigures(end, end);

    EXPECT_EQ(Dump(graph.GetRoot(), names),
              "start 3 Executing=1 Sleep=2 {0x10:2 0x20:1 0x30:5}\n"
              "end 6 Executing=3 IO=1 Sleep=2 {0x8:1 0x10:2 0x20:4 0x30:6 0x40:1}\n"
              "copy 6 Executing=3 IO=1 Sleep=2 {0x8:1 0x10:2 0x20:4 0x30:6 0x40:1}\n"
              "difference 3 Executing=2 IO=1 {0x8:1 0x20:3 0x30:1 0x40:1}\n"
              "nothing 0\n");

    // In place: a node minus itself leaves nothing.
    CallGraphNode& endNode = *graph.GetRoot().Children[1];
    endNode.SubtractFigures(endNode, endNode);
    EXPECT_EQ(endNode.InclusiveTime(), 0.0);
    EXPECT_TRUE(endNode.AddressSamples.empty());
}

TEST(CallGraph, ClearStartsAgainAtTheFirstBlock)
{
    FunctionNames names;
    CallGraph graph;
    for (int i = 0; i < 50; ++i)
        AddStacks(graph.GetRoot(), "a;b;c" + std::to_string(i) + " 1 samples=0x10:1", names);
    const NodeArena& arena = graph.GetAllocator().GetArena();
    ASSERT_GT(arena.GetBlockCount(), 2u);
    const std::size_t blocks = arena.GetBlockCount();

    graph.Clear();
    EXPECT_TRUE(graph.GetRoot().Children.empty());
    EXPECT_TRUE(graph.GetRoot().IsRoot());
    EXPECT_EQ(arena.GetCurrentBlockIndex(), 0u);
    EXPECT_EQ(arena.GetBlockInfo(0).used, sizeof(CallGraphNode));
    EXPECT_EQ(arena.GetBytesAllocated(), sizeof(CallGraphNode));
    EXPECT_EQ(arena.GetBlockCount(), blocks);

    // Refilling reuses the kept blocks instead of growing.
    for (int i = 0; i < 50; ++i)
        AddStacks(graph.GetRoot(), "a;b;c" + std::to_string(i) + " 1 samples=0x10:1", names);
    EXPECT_EQ(arena.GetBlockCount(), blocks);
    EXPECT_EQ(graph.CountNodes(), 52u);
}

TEST(CallGraph, DerivedNodesStartWithTheirInitialValuesOnReusedStorage)
{
    MergedCallGraph merged;
    MergedCallGraphNode& node = MergedCallGraphNode::From(*merged.GetRoot().AddChild({0x100, 1}, 0));
    node.Recursive = true;
    node.StateTimes[1] = 1.0;
    node.Sources.PushBack(merged.GetAllocator().GetArena(), {&node, EFoldState::Folded});
    merged.Clear();
    const MergedCallGraphNode& fresh = MergedCallGraphNode::From(*merged.GetRoot().AddChild({0x100, 1}, 0));
    EXPECT_EQ(&fresh, &node); // the same storage, after the root's
    EXPECT_FALSE(fresh.Recursive);
    EXPECT_TRUE(fresh.Sources.empty());
    EXPECT_EQ(fresh.InclusiveTime(), 0.0);
}

TEST(NodeArena, DestroyedLargeBlocksServeLaterArenasUpToTheBound)
{
    NodeArena::ReleasePool();
    constexpr std::size_t kLarge = std::size_t(4) << 20;
    void* first = nullptr;
    {
        CallGraph graph(kLarge);
        CallGraphNode* node = graph.GetRoot().AddChild({0x100, 1}, 0);
        node->StateTimes[1] = 1.0;
        node->AddSample(0x104, 2);
        first = &graph.GetRoot();
    }
    EXPECT_EQ(NodeArena::GetPooledBytes(), kLarge);

    // The next graph writes into the same block; its nodes start empty all the same.
    {
        CallGraph graph(kLarge);
        EXPECT_EQ(&graph.GetRoot(), first);
        const CallGraphNode* node = graph.GetRoot().AddChild({0x100, 1}, 0);
        EXPECT_EQ(node->InclusiveTime(), 0.0);
        EXPECT_TRUE(node->AddressSamples.empty());
        EXPECT_TRUE(node->Children.empty());
        EXPECT_EQ(NodeArena::GetPooledBytes(), 0u);
    }
    {
        NodeArena zeroed(kLarge, true);
        const auto* bytes = static_cast<const unsigned char*>(zeroed.Allocate(kLarge));
        EXPECT_TRUE(std::all_of(bytes, bytes + kLarge, [](unsigned char byte) { return byte == 0; }));
    }

    // A small arena leaves a far larger block for a larger graph; blocks past the bound go back
    // to the system. Untouched pages cost nothing here.
    {
        NodeArena large(NodeArena::kPoolBytes / 2);
    }
    {
        NodeArena small(kLarge);
        EXPECT_EQ(NodeArena::GetPooledBytes(), NodeArena::kPoolBytes / 2);
        NodeArena a(NodeArena::kPoolBytes / 2);
        NodeArena b(NodeArena::kPoolBytes / 2);
    }
    EXPECT_EQ(NodeArena::GetPooledBytes(), NodeArena::kPoolBytes);
    NodeArena::ReleasePool();
    EXPECT_EQ(NodeArena::GetPooledBytes(), 0u);
}

TEST(CallGraphNode, WideNodesMatchChildrenThroughTheIndex)
{
    // 200 children of one node: keys repeat functions with different call sites, and the target
    // already holds some of them, so both indexed and created children are looked up.
    CallGraph source;
    for (uint64_t i = 0; i < 200; ++i)
        source.GetRoot().AddChild({0x1000 + 0x10 * (i % 50), 1}, i / 50)->StateTimes[1] = 1.0;
    CallGraph target;
    for (uint64_t i = 0; i < 30; ++i)
        target.GetRoot().AddChild({0x1000 + 0x10 * i, 0x4000'0001u}, 0)->StateTimes[1] = 1.0;
    target.GetRoot().MergeFrom(source.GetRoot());
    target.GetRoot().MergeFrom(source.GetRoot());
    ASSERT_EQ(target.GetRoot().Children.size(), 200u);
    for (const CallGraphNode* child : target.GetRoot().Children) {
        const bool preexisting = child->CallerAddress == 0 && child->FunctionAddress < 0x1000 + 0x10 * 30;
        EXPECT_EQ(child->InclusiveTime(), preexisting ? 3.0 : 2.0);
    }

    // Merging ignores call sites: one merged child per function.
    FoldedCallGraph folded;
    MergedCallGraph merged;
    const std::atomic<bool> canceled{false};
    FoldAndMerge(source.GetRoot(), {}, folded, &merged, false, canceled);
    ASSERT_EQ(merged.GetRoot().Children.size(), 50u);
    for (const CallGraphNode* child : merged.GetRoot().Children)
        EXPECT_EQ(child->InclusiveTime(), 4.0);
}
