#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/NodeArena.h"

#include <gtest/gtest.h>

using namespace Profiler;
using namespace CallGraphTest;

TEST(CallGraphNode, Smoke)
{
    FunctionNames names;
    CallGraph graph;
    AddStacks(graph.GetRoot(), "main;work;leaf 3\nmain;work 1 Sleep=2 samples=0x10:2\n", names);
    EXPECT_EQ(Dump(graph.GetRoot(), names), "main 6 Executing=4 Sleep=2\n"
                                            "  work 6 Executing=4 Sleep=2 {0x10:2}\n"
                                            "    leaf 3\n");
}
