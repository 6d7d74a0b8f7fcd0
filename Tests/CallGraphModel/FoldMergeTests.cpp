#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <gtest/gtest.h>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

std::string FoldAnnotation(const CallGraphNode& node)
{
    const FoldedCallGraphNode& folded = FoldedCallGraphNode::From(node);
    return " state=" + std::to_string(static_cast<int>(folded.FoldState)) +
           (folded.SourceNode ? "" : " nosource");
}

std::string MergeAnnotation(const CallGraphNode& node)
{
    const MergedCallGraphNode& merged = MergedCallGraphNode::From(node);
    return (merged.Recursive ? " recursive" : "") + std::string(" sources=") +
           std::to_string(merged.Sources.size());
}

/// The nodes of `graph` whose function occurs again below them (each recursion's outer levels).
void CollectRecursionRoots(const CallGraphNode& node, std::vector<const CallGraphNode*>& path,
                           RecursionRootSet& roots)
{
    if (!node.IsRoot()) {
        for (const CallGraphNode* outer : path)
            if (outer->HasFunction(node.GetFunction())) {
                roots.insert(outer);
                break;
            }
        path.push_back(&node);
    }
    for (const CallGraphNode* child : node.Children)
        CollectRecursionRoots(*child, path, roots);
    if (!node.IsRoot())
        path.pop_back();
}

struct Folding {
    FunctionNames names;
    CallGraph source;
    FoldedCallGraph folded;
    MergedCallGraph merged;

    Folding(const std::string& stacks, bool foldRecursion, bool recording = true)
    {
        AddStacks(source.GetRoot(), stacks, names);
        RecursionRootSet roots;
        std::vector<const CallGraphNode*> path;
        if (foldRecursion)
            CollectRecursionRoots(source.GetRoot(), path, roots);
        const std::atomic<bool> canceled{false};
        FoldAndMerge(source.GetRoot(), roots, folded, &merged, recording, canceled);
    }
    std::string Folded() { return Dump(folded.GetRoot(), names, FoldAnnotation); }
    std::string Merged() { return Dump(merged.GetRoot(), names, MergeAnnotation); }
};

} // namespace

TEST(FoldAndMerge, TreeWithoutRecursionFoldsToItselfAndMergesCallSites)
{
    Folding run("main;a@0x10;x 2\nmain;a@0x20;y 3\nmain;b 1", true);
    EXPECT_EQ(run.Folded(), "main 6 state=2\n"
                            "  a@0x10 2 state=2\n"
                            "    x 2 state=2\n"
                            "  a@0x20 3 state=2\n"
                            "    y 3 state=2\n"
                            "  b 1 state=2\n");
    EXPECT_EQ(run.Merged(), "main 6 sources=1\n"
                            "  a@0x10 5 sources=2\n"
                            "    x 2 sources=1\n"
                            "    y 3 sources=1\n"
                            "  b 1 sources=1\n");
}

TEST(FoldAndMerge, IndirectRecursionMovesTheReentryBesideItsRoot)
{
    const char* stacks = "f;g;f;h 2\nf;g;f 1\nf;g 1\nf 1";
    Folding unfolded(stacks, false);
    EXPECT_EQ(unfolded.Folded(), "f 5 state=1\n"
                                 "  g 4 state=2\n"
                                 "    f 3 state=1\n"
                                 "      h 2 state=2\n");
    EXPECT_EQ(unfolded.Merged(), "f 5 recursive sources=1\n"
                                 "  g 4 sources=1\n"
                                 "    f 3 recursive sources=1\n"
                                 "      h 2 sources=1\n");

    Folding folded(stacks, true);
    EXPECT_EQ(folded.Folded(), "f 2 state=0\n"
                               "  g 1 state=2\n"
                               "f 3 state=0\n"
                               "  h 2 state=2\n");
    EXPECT_EQ(folded.Merged(), "f 5 sources=2\n"
                               "  g 1 sources=1\n"
                               "  h 2 sources=1\n");
    // The moved node keeps its depth and points at the node it copies.
    const FoldedCallGraphNode& moved = FoldedCallGraphNode::From(*folded.folded.GetRoot().Children[1]);
    EXPECT_EQ(moved.Depth, 2u);
    EXPECT_EQ(moved.SourceNode, folded.source.GetRoot().Children[0]->Children[0]->Children[0]);

    Folding notRecorded(stacks, true, false);
    EXPECT_EQ(notRecorded.Folded(), "f 2 state=2 nosource\n"
                                    "  g 1 state=2 nosource\n"
                                    "f 3 state=2 nosource\n"
                                    "  h 2 state=2 nosource\n");
    EXPECT_EQ(notRecorded.Merged(), "f 5 sources=0\n"
                                    "  g 1 sources=0\n"
                                    "  h 2 sources=0\n");
}

TEST(FoldAndMerge, DirectRecursionFoldsEveryLevelToTheTop)
{
    Folding run("f;f@0x8;f@0x8 1 Sleep=1\nf;f@0x8 1\nf 1", true);
    // Inner levels are folded innermost first and take the outer call site.
    EXPECT_EQ(run.Folded(), "f 1 state=0\n"
                            "f 2 Executing=1 Sleep=1 state=0\n"
                            "f 1 state=0\n");
    EXPECT_EQ(run.Merged(), "f 4 Executing=3 Sleep=1 sources=3\n");
}

TEST(FoldAndMerge, OnlyTheChosenRecursionRootsFold)
{
    // Folding at the middle level leaves the outermost one in place.
    FunctionNames names;
    CallGraph source;
    AddStacks(source.GetRoot(), "f;f;f 1\nf;f 1\nf 1", names);
    const CallGraphNode* middle = source.GetRoot().Children[0]->Children[0];
    FoldedCallGraph folded;
    MergedCallGraph merged;
    const std::atomic<bool> canceled{false};
    FoldAndMerge(source.GetRoot(), {middle}, folded, &merged, true, canceled);
    EXPECT_EQ(Dump(folded.GetRoot(), names, FoldAnnotation), "f 3 state=1\n"
                                                             "  f 1 state=0\n"
                                                             "  f 1 state=0\n");
    EXPECT_EQ(Dump(merged.GetRoot(), names, MergeAnnotation), "f 3 recursive sources=1\n"
                                                              "  f 2 recursive sources=2\n");
}
