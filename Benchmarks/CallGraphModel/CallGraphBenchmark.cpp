// The engine's algorithms on one call graph of about two million nodes (see LargeCallGraph.h).
// Every benchmark reports the graph's node count, the node record sizes and the process's peak
// resident memory so far.

#include "LargeCallGraph.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CallGraphDifference.h"
#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/FunctionTiming.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "CallGraphModel/NodeArena.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "Utility/ErrorList.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <thread>
#include <unordered_map>

using namespace Profiler;
using namespace CallGraphBench;

namespace {

const std::atomic<bool> kNotCanceled{false};

struct Fixture {
    std::unique_ptr<CallGraph> graph;
    std::size_t nodes = 0;
    std::vector<uint8_t> record;
    RecursionRootSet recursionRoots; ///< the outermost occurrence of every recursion
    ResolvedAddress hotFunction;     ///< the function with the most nodes below the entry chain
    FunctionScope scope;

    Fixture()
    {
        graph = MakeLargeCallGraph({});
        nodes = graph->CountNodes();
        RecordWriter writer(record);
        graph->GetRoot().Serialize(writer);
        std::vector<const CallGraphNode*> path;
        FindRecursionRoots(graph->GetRoot(), path);
        std::unordered_map<ResolvedAddress, std::size_t, ResolvedAddressHash> occurrences;
        CountOccurrences(graph->GetRoot(), occurrences);
        std::size_t most = 0;
        for (const auto& [function, count] : occurrences)
            if (count > most && function.RelativeAddress > 0x10000 + 3 * 0x400) {
                most = count;
                hotFunction = function;
            }
        scope.SamplingIntervalMs = 1.0;
    }

    void FindRecursionRoots(const CallGraphNode& node, std::vector<const CallGraphNode*>& path)
    {
        if (!node.IsRoot()) {
            for (const CallGraphNode* outer : path)
                if (outer->HasFunction(node.GetFunction())) {
                    recursionRoots.insert(outer);
                    break;
                }
            path.push_back(&node);
        }
        for (const CallGraphNode* child : node.Children)
            FindRecursionRoots(*child, path);
        if (!node.IsRoot())
            path.pop_back();
    }

    static void CountOccurrences(const CallGraphNode& node,
                                 std::unordered_map<ResolvedAddress, std::size_t, ResolvedAddressHash>& counts)
    {
        if (!node.IsRoot())
            ++counts[node.GetFunction()];
        for (const CallGraphNode* child : node.Children)
            CountOccurrences(*child, counts);
    }
};

Fixture& GetFixture()
{
    static Fixture fixture;
    return fixture;
}

void Report(benchmark::State& state, std::size_t nodesPerIteration)
{
    const Fixture& fixture = GetFixture();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["nodes"] = static_cast<double>(fixture.nodes);
    state.counters["peakRssMiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["nodeBytes"] = sizeof(CallGraphNode);
    state.counters["graphMiB"] =
        static_cast<double>(fixture.graph->GetAllocator().GetArena().GetBytesReserved()) / (1024.0 * 1024.0);
    state.counters["recordMiB"] = static_cast<double>(fixture.record.size()) / (1024.0 * 1024.0);
    state.counters["cores"] = std::thread::hardware_concurrency();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodesPerIteration));
}

void BM_Generate(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(GetFixture().graph.get());
    state.counters["CallGraphNode"] = sizeof(CallGraphNode);
    state.counters["CalledByGraphNode"] = sizeof(CalledByGraphNode);
    state.counters["FoldedCallGraphNode"] = sizeof(FoldedCallGraphNode);
    state.counters["MergedCallGraphNode"] = sizeof(MergedCallGraphNode);
    state.counters["recursionRoots"] = static_cast<double>(GetFixture().recursionRoots.size());
    // Shape: leaves, mean and deepest depth, widest fan-out, distinct functions, bytes in use.
    std::size_t leaves = 0, depthSum = 0, maxDepth = 0, maxFanOut = 0;
    std::unordered_map<ResolvedAddress, int, ResolvedAddressHash> functions;
    std::vector<const CallGraphNode*> stack{&GetFixture().graph->GetRoot()};
    while (!stack.empty()) {
        const CallGraphNode* node = stack.back();
        stack.pop_back();
        maxFanOut = std::max<std::size_t>(maxFanOut, node->Children.size());
        if (!node->IsRoot()) {
            functions[node->GetFunction()] = 1;
            if (node->Children.empty()) {
                ++leaves;
                depthSum += node->Depth;
                maxDepth = std::max<std::size_t>(maxDepth, node->Depth);
            }
        }
        stack.insert(stack.end(), node->Children.begin(), node->Children.end());
    }
    state.counters["leaves"] = static_cast<double>(leaves);
    state.counters["leafDepthMean"] = static_cast<double>(depthSum) / static_cast<double>(leaves);
    state.counters["leafDepthMax"] = static_cast<double>(maxDepth);
    state.counters["fanOutMax"] = static_cast<double>(maxFanOut);
    state.counters["functions"] = static_cast<double>(functions.size());
    state.counters["usedMiB"] =
        static_cast<double>(GetFixture().graph->GetAllocator().GetArena().GetBytesAllocated()) / (1024.0 * 1024.0);
    Report(state, 0);
}

void BM_MergeIntoEmpty(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        auto target = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
        target->GetRoot().MergeFrom(fixture.graph->GetRoot());
        state.PauseTiming();
        target.reset();
        state.ResumeTiming();
    }
    Report(state, fixture.nodes);
}

void BM_MergeIntoEqual(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    auto target = fixture.graph->Clone();
    for (auto _ : state)
        target->GetRoot().MergeFrom(fixture.graph->GetRoot());
    Report(state, fixture.nodes);
}

void BM_Destroy(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        state.PauseTiming();
        auto target = fixture.graph->Clone();
        state.ResumeTiming();
        target.reset();
    }
    Report(state, fixture.nodes);
}

void BM_Serialize(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    std::vector<uint8_t> buffer;
    for (auto _ : state) {
        buffer.clear();
        RecordWriter writer(buffer);
        fixture.graph->GetRoot().Serialize(writer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.record.size()));
    Report(state, fixture.nodes);
}

void BM_Deserialize(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        auto target = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
        RecordReader reader(fixture.record);
        Serialization::ErrorList errors;
        if (!target->GetRoot().DeserializeAdd(reader, errors))
            state.SkipWithError("record did not read back");
        state.PauseTiming();
        target.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.record.size()));
    Report(state, fixture.nodes);
}

void BM_Difference(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    // The end graph is the start graph with every node's times doubled: every node differs.
    auto end = fixture.graph->Clone();
    end->GetRoot().MergeFrom(fixture.graph->GetRoot());
    for (auto _ : state) {
        CallGraph result(CallGraph::kQueryFirstBlockBytes);
        BuildDifference(&fixture.graph->GetRoot(), end->GetRoot(), result.GetRoot(), kNotCanceled);
        state.PauseTiming();
        result.Clear();
        state.ResumeTiming();
    }
    Report(state, fixture.nodes);
}

void BM_FoldAndMerge(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    const bool recording = state.range(0) != 0;
    for (auto _ : state) {
        auto folded = std::make_unique<FoldedCallGraph>();
        auto merged = std::make_unique<MergedCallGraph>();
        FoldAndMerge(fixture.graph->GetRoot(), fixture.recursionRoots, *folded, merged.get(), recording,
                     kNotCanceled);
        state.PauseTiming();
        folded.reset();
        merged.reset();
        state.ResumeTiming();
    }
    Report(state, fixture.nodes);
}

/// What the call graph panel builds for a new query, where nothing is folded yet: the merged
/// graph straight from the query's graph (arg 1), or through a folded copy as before (arg 0).
void BM_MergeForPanel(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    const bool direct = state.range(0) != 0;
    for (auto _ : state) {
        auto folded = std::make_unique<FoldedCallGraph>();
        auto merged = std::make_unique<MergedCallGraph>();
        if (direct)
            MergeUnfolded(fixture.graph->GetRoot(), *merged, kNotCanceled);
        else
            FoldAndMerge(fixture.graph->GetRoot(), {}, *folded, merged.get(), true, kNotCanceled);
        state.PauseTiming();
        state.counters["arenaMB"] = static_cast<double>(folded->GetAllocator().GetArena().GetBytesReserved() +
                                                        merged->GetAllocator().GetArena().GetBytesReserved()) /
                                    1e6;
        folded.reset();
        merged.reset();
        state.ResumeTiming();
    }
    Report(state, fixture.nodes);
}

void BM_BuildFunctionList(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        FunctionListItems items;
        BuildFunctionList(fixture.graph->GetRoot(), fixture.scope, items, kNotCanceled);
        state.counters["functions"] = static_cast<double>(items.size());
    }
    Report(state, fixture.nodes);
}

void BM_Butterfly(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        auto calledBy = std::make_unique<CalledByGraph>();
        auto folded = std::make_unique<FoldedCallGraph>();
        auto merged = std::make_unique<MergedCallGraph>();
        BuildCalledByGraph(fixture.graph->GetRoot(), fixture.hotFunction, fixture.scope, *calledBy, kNotCanceled);
        BuildSubgraphBelowFunction(fixture.graph->GetRoot(), fixture.hotFunction, fixture.scope, *folded,
                                   merged.get(), kNotCanceled);
        state.PauseTiming();
        state.counters["calledByNodes"] = static_cast<double>(calledBy->CountNodes());
        state.counters["callsNodes"] = static_cast<double>(folded->CountNodes());
        calledBy.reset();
        folded.reset();
        merged.reset();
        state.ResumeTiming();
    }
    Report(state, fixture.nodes);
}

void BM_FunctionTiming(benchmark::State& state)
{
    const Fixture& fixture = GetFixture();
    for (auto _ : state) {
        FunctionTimingInfo info;
        ComputeFunctionTiming(fixture.graph->GetRoot(), fixture.hotFunction, fixture.scope, info, kNotCanceled);
        state.counters["addressEntries"] = static_cast<double>(info.AddressEntries.size());
    }
    Report(state, fixture.nodes);
}

} // namespace

BENCHMARK(BM_Generate)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MergeIntoEmpty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeIntoEqual)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Destroy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deserialize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Difference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FoldAndMerge)->Arg(0)->Arg(1)->ArgName("recording")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeForPanel)->Arg(0)->Arg(1)->ArgName("direct")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFunctionList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Butterfly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FunctionTiming)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
