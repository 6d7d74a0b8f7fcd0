#include "CallGraphText.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <gtest/gtest.h>

using namespace Profiler;
using namespace CallGraphTest;

// How recursion and instrumentation zones count is checked against a brute-force count in the
// property tests; these examples pin the self-time split the brute force reuses, scopes and the
// butterfly's trees.

namespace {

const std::atomic<bool> kNotCanceled{false};

/// One list row as text: name inclusive exclusive unknownExecuting unknownWait samples.
std::string ListText(const FunctionListItems& items, const FunctionNames& names)
{
    std::string text;
    for (const auto& item : items)
        text += names.GetName(item->Function) + " " + FormatNumber(item->GetTotalInclusive()) + " " +
                FormatNumber(item->Exclusive) + " " + FormatNumber(item->UnknownExecuting) + " " +
                FormatNumber(item->UnknownWait) + " " + std::to_string(item->SampleCount) + "\n";
    return text;
}

struct ListRun {
    FunctionNames names;
    CallGraph graph;
    FunctionScope scope;

    explicit ListRun(const std::string& stacks) { AddStacks(graph.GetRoot(), stacks, names); }
    std::string List()
    {
        FunctionListItems items;
        EXPECT_TRUE(BuildFunctionList(graph.GetRoot(), scope, items, kNotCanceled));
        return ListText(items, names);
    }
    void SetCustomRoot(const std::vector<std::string>& path)
    {
        scope.CustomRootPath.clear();
        for (const std::string& name : path)
            scope.CustomRootPath.push_back(names.Get(name));
    }
};

std::string CalledByAnnotation(const CallGraphNode& node)
{
    return CalledByGraphNode::From(node).WithinCustomRoot ? "" : " outside";
}

} // namespace

TEST(FunctionList, SelfTimeSplit)
{
    ListRun run(R"(
        nosamples 4
        oversampled 1 samples=0x1:3
        waits 1 Sleep=2 samples=0x1:1
        waits;callee 1 IO=1
    )");
    // name inclusive exclusive unknownExecuting unknownWait samples
    EXPECT_EQ(run.List(), "waits 5 1 0 2 1\n"
                          "nosamples 4 0 4 0 0\n"
                          "callee 2 0 1 1 0\n"
                          "oversampled 1 1 0 0 3\n");

    // Children that account for more than their parent leave it no self time.
    CallGraphNode& parent = *run.graph.GetRoot().Children[0];
    parent.AddChild(run.names.Get("big"), kUnknownCallerAddress)->StateTimes[1] = 10.0;
    const SelfTimeSplit split = ComputeSelfTimeSplit(parent, 1.0);
    EXPECT_EQ(split.Exclusive, 0.0);
    EXPECT_EQ(split.UnknownExecuting, 0.0);
    EXPECT_EQ(split.UnknownWait, 0.0);
    EXPECT_EQ(ComputeSelfTimeSplit(*run.graph.GetRoot().Children[1], 0.25).Exclusive, 0.75);
}

TEST(FunctionList, CustomRootAndMinimumDepthLimitTheScope)
{
    ListRun run(R"(
        main;a@0x1;x 2
        main;a@0x2;y 1
        main;b;x 3
        main;b;a;y 1
        other;a;z 1
    )");
    run.SetCustomRoot({"main", "a"});
    EXPECT_EQ(run.List(), "a 3 0 0 0 0\n"
                          "x 2 0 2 0 0\n"
                          "y 1 0 1 0 0\n");
    run.SetCustomRoot({"main", "nothing"});
    EXPECT_EQ(run.List(), "");

    run.SetCustomRoot({});
    run.scope.MinimumDepth = 2;
    EXPECT_EQ(run.List(), "x 5 0 5 0 0\n"
                          "y 2 0 2 0 0\n"
                          "a 1 0 0 0 0\n"
                          "z 1 0 1 0 0\n");
}

TEST(FunctionList, SingleState)
{
    StateTimeArray times{};
    EXPECT_FALSE(GetSingleState(times).IsSingle);
    EXPECT_EQ(GetSingleState(times).State, kThreadStateUndetermined);
    times[4] = 0.01; // the double 0.01 lies above the single-precision threshold
    times[2] = static_cast<double>(0.01f);
    EXPECT_TRUE(GetSingleState(times).IsSingle);
    EXPECT_EQ(GetSingleState(times).State, 4);
    times[7] = 1.0;
    EXPECT_FALSE(GetSingleState(times).IsSingle);
}

TEST(Butterfly, CalledByTreeCountsNestedOccurrencesOnce)
{
    ListRun run(R"(
        main;a;f 2
        main;b;f 3
        main;f;c;f 1
        main;f 1 Sleep=1
    )");
    CalledByGraph calledBy;
    ASSERT_TRUE(
        BuildCalledByGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, calledBy, kNotCanceled));
    EXPECT_EQ(Dump(calledBy.GetRoot(), run.names, CalledByAnnotation), "f 8 Executing=7 Sleep=1\n"
                                                                       "  a 2\n"
                                                                       "    main 2\n"
                                                                       "  b 3\n"
                                                                       "    main 3\n"
                                                                       "  c 1\n"
                                                                       "    f 1\n"
                                                                       "      main 1\n"
                                                                       "  main 2 Executing=1 Sleep=1\n");
    run.SetCustomRoot({"main", "a"});
    CalledByGraph scoped;
    ASSERT_TRUE(BuildCalledByGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, scoped, kNotCanceled));
    EXPECT_EQ(Dump(scoped.GetRoot(), run.names, CalledByAnnotation), "f 2\n"
                                                                     "  a 2\n"
                                                                     "    main 2 outside\n");
}

TEST(Butterfly, CallsPaneFoldsRecursionAndMergesCallSites)
{
    ListRun run(R"(
        main;a;f@0x10 2
        main;b;f@0x20 3
        main;f@0x20;c;f 1
        main;f@0x20 1 Sleep=1
    )");
    // Function timing folds the collected copies of the subtrees.
    CallGraph collected;
    RecursionRootSet roots;
    ASSERT_TRUE(CollectSubtreesBelowFunction(run.graph.GetRoot(), run.names.Get("f"), run.scope, collected,
                                             roots, kNotCanceled));
    EXPECT_EQ(Dump(collected.GetRoot(), run.names), "f@0x10 2\n"
                                                    "f@0x20 6 Executing=5 Sleep=1\n"
                                                    "  c 1\n"
                                                    "    f 1\n");
    EXPECT_EQ(roots, RecursionRootSet{collected.GetRoot().Children[1]});
    FoldedCallGraph folded;
    ASSERT_TRUE(BuildSubgraphBelowFunction(run.graph.GetRoot(), run.names.Get("f"), run.scope, folded,
                                           nullptr, kNotCanceled));
    EXPECT_EQ(Dump(folded.GetRoot(), run.names), "f@0x10 2\n"
                                                 "f@0x20 5 Executing=4 Sleep=1\n"
                                                 "  c 0\n"
                                                 "f@0x20 1\n");

    // The pane: all occurrences in one top node; c's time was all in the re-entry.
    CallGraph calls;
    ASSERT_TRUE(BuildCallsGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, calls, kNotCanceled));
    EXPECT_EQ(Dump(calls.GetRoot(), run.names), "f@0x10 8 Executing=7 Sleep=1\n"
                                                "  c 0\n");
}

TEST(Butterfly, CallsPaneFoldsAReentryOntoTheOutermostOccurrenceOfItsFunction)
{
    // In f;g;h;f;h the inner f folds onto the top and the h it calls onto the outer h, so g and h
    // keep their time outside the inner f, plus the inner h's; f;f;f folds onto the top in place.
    ListRun run(R"(
        main;f;g;h;f;h 1 samples=0x10:2
        main;f;g;h;f 1 samples=0x8:1
        main;f;g;h 2
        main;f;g 1
        main;f 1 Sleep=1
        main;f;f;f 2
    )");
    const std::string expected = "f 9 Executing=8 Sleep=1 {0x8:1}\n"
                                 "  g 4\n"
                                 "    h 3 {0x10:2}\n";
    CallGraph calls;
    ASSERT_TRUE(BuildCallsGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, calls, kNotCanceled));
    EXPECT_EQ(Dump(calls.GetRoot(), run.names), expected);
    FoldedCallGraph folded;
    MergedCallGraph merged;
    ASSERT_TRUE(BuildSubgraphBelowFunction(run.graph.GetRoot(), run.names.Get("f"), run.scope, folded,
                                           &merged, kNotCanceled));
    EXPECT_EQ(Dump(merged.GetRoot(), run.names), expected);

    // Below a custom root only the occurrences there count: the inner f of main;f;f is the top.
    run.SetCustomRoot({"main", "f", "f"});
    CallGraph scoped;
    ASSERT_TRUE(BuildCallsGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, scoped, kNotCanceled));
    EXPECT_EQ(Dump(scoped.GetRoot(), run.names), "f 2\n");
}

TEST(Butterfly, AbsentFunctionGivesAnEmptyButterfly)
{
    ListRun run("main;a 1");
    CalledByGraph calledBy;
    ASSERT_TRUE(
        BuildCalledByGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, calledBy, kNotCanceled));
    EXPECT_EQ(Dump(calledBy.GetRoot(), run.names), "f 0\n");
    CallGraph calls;
    ASSERT_TRUE(BuildCallsGraph(run.graph.GetRoot(), run.names.Get("f"), run.scope, calls, kNotCanceled));
    EXPECT_TRUE(calls.GetRoot().Children.empty());
}
