// Properties over a few hundred random trees per test, each from a fixed seed.

#include "CallGraphText.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphDifference.h"
#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "CallGraphModel/RecordReader.h"
#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

constexpr int kTrees = 300;
const std::atomic<bool> kNotCanceled{false};

/// One stack of a random tree: frames outermost first, the time it adds to every frame and the
/// samples of its innermost frame. Few functions make recursion common; times are whole or half
/// milliseconds so that sums and differences are exact whatever their order.
struct RandomStack {
    std::vector<Frame> frames;
    StateTimeArray times{};
    std::vector<AddressSample> samples;
};

std::vector<RandomStack> MakeRandomStacks(std::mt19937_64& random, FunctionNames& names, int count)
{
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const uint64_t callers[] = {kUnknownCallerAddress, 0x10, 0x20};
    std::vector<RandomStack> stacks(static_cast<size_t>(count));
    for (RandomStack& stack : stacks) {
        const int depth = uniform(1, 8);
        for (int level = 0; level < depth; ++level) {
            const bool zone = uniform(0, 9) == 0;
            const std::string name =
                zone ? "!z" + std::to_string(uniform(0, 1)) : "f" + std::to_string(uniform(0, 5));
            stack.frames.push_back({names.Get(name), callers[uniform(0, 2)]});
        }
        for (double& time : stack.times)
            if (uniform(0, 9) < 3)
                time = uniform(1, 8) * 0.5;
        if (SumStateTimes(stack.times) == 0.0)
            stack.times[static_cast<int>(EThreadState::Executing)] = 1.0;
        const int sampleCount = uniform(0, 2);
        for (int i = 0; i < sampleCount; ++i)
            stack.samples.push_back(
                {0x100 + 8 * static_cast<uint64_t>(uniform(0, 7)), static_cast<uint32_t>(uniform(1, 3))});
    }
    return stacks;
}

void AddRandomStacks(CallGraphNode& root, const std::vector<RandomStack>& stacks)
{
    for (const RandomStack& stack : stacks)
        AddStack(root, stack.frames, stack.times, stack.samples);
}

struct RandomGraph {
    std::mt19937_64 random;
    FunctionNames names;
    CallGraph graph;

    explicit RandomGraph(uint64_t seed, int stacks = 30) : random(seed)
    {
        AddRandomStacks(graph.GetRoot(), MakeRandomStacks(random, names, stacks));
    }
    int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
};

void ForEachNode(const CallGraphNode& node, const std::function<void(const CallGraphNode&)>& visit)
{
    visit(node);
    for (const CallGraphNode* child : node.Children)
        ForEachNode(*child, visit);
}

/// A random scope: sometimes a custom root path taken from the graph, sometimes a minimum depth.
FunctionScope RandomScope(RandomGraph& run)
{
    FunctionScope scope;
    scope.SamplingIntervalMs = 0.5;
    if (run.Uniform(0, 2) == 0) {
        const CallGraphNode* node = &run.graph.GetRoot();
        const int length = run.Uniform(1, 2);
        for (int i = 0; i < length && !node->Children.empty(); ++i) {
            node = node->Children[static_cast<uint32_t>(
                run.Uniform(0, static_cast<int>(node->Children.size()) - 1))];
            scope.CustomRootPath.push_back(node->GetFunction());
        }
    }
    if (run.Uniform(0, 2) == 0)
        scope.MinimumDepth = run.Uniform(1, 3);
    return scope;
}

/// The function list computed the slow way: for every counted node, look at its ancestors.
std::map<std::string, FunctionListItem> BruteForceList(RandomGraph& run, const FunctionScope& scope)
{
    std::map<std::string, FunctionListItem> items;
    for (const CallGraphNode* start : FindStartNodes(run.graph.GetRoot(), scope.CustomRootPath)) {
        const auto counts = [&](const CallGraphNode& node) {
            return scope.Counts(node) && node.InclusiveTime() > 0.0;
        };
        ForEachNode(*start, [&](const CallGraphNode& node) {
            if (!counts(node))
                return;
            FunctionListItem& item = items[run.names.GetName(node.GetFunction())];
            item.Function = node.GetFunction();
            bool nested = false;
            const CallGraphNode* enclosing = nullptr;
            for (const CallGraphNode* up = &node; up != start;) {
                up = up->Parent;
                if (!counts(*up))
                    continue;
                nested = nested || up->HasFunction(node.GetFunction());
                if (enclosing == nullptr && !up->GetFunction().IsInstrumentationZone())
                    enclosing = up;
            }
            if (!nested)
                for (int i = 0; i < kThreadStateCount; ++i)
                    item.Inclusive[i] += node.StateTimes[i];
            const SelfTimeSplit split = ComputeSelfTimeSplit(node, scope.SamplingIntervalMs);
            const auto add = [&](FunctionListItem& target) {
                target.Exclusive += split.Exclusive;
                target.UnknownExecuting += split.UnknownExecuting;
                target.UnknownWait += split.UnknownWait;
            };
            add(item);
            item.SampleCount += node.GetSampleCount();
            if (node.GetFunction().IsInstrumentationZone() && enclosing != nullptr)
                add(items[run.names.GetName(enclosing->GetFunction())]);
        });
    }
    return items;
}

/// The tree with every caller address dropped: a merged node keeps whichever call site it met
/// first, which the calls pane does not show.
std::string DumpWithoutCallSites(const CallGraphNode& root, const FunctionNames& names)
{
    CallGraph copy;
    const std::function<void(const CallGraphNode&, CallGraphNode&)> copyChildren =
        [&](const CallGraphNode& from, CallGraphNode& to) {
            for (const CallGraphNode* child : from.Children) {
                CallGraphNode* target = to.AddChild(child->GetFunction(), kUnknownCallerAddress);
                target->CopyFigures(*child);
                copyChildren(*child, *target);
            }
        };
    copyChildren(root, copy.GetRoot());
    return SortedDump(copy.GetRoot(), names);
}

/// The called-by tree the slow way: every counted occurrence adds its time less that of the
/// nearest counted occurrences below it along its chain of callers.
void BruteForceCalledBy(RandomGraph& run, const ResolvedAddress& function, const FunctionScope& scope,
                        CallGraph& calledBy)
{
    CallGraphNode* top = calledBy.GetRoot().AddChild(function, kUnknownCallerAddress);
    const auto occurs = [&](const CallGraphNode& node) {
        return scope.Counts(node) && node.HasFunction(function);
    };
    const std::function<void(const CallGraphNode&, StateTimeArray&)> subtractNested =
        [&](const CallGraphNode& node, StateTimeArray& times) {
            for (const CallGraphNode* child : node.Children) {
                if (!occurs(*child)) {
                    subtractNested(*child, times);
                    continue;
                }
                for (int i = 0; i < kThreadStateCount; ++i)
                    times[i] -= child->StateTimes[i];
            }
        };
    for (const CallGraphNode* start : FindStartNodes(run.graph.GetRoot(), scope.CustomRootPath))
        ForEachNode(*start, [&](const CallGraphNode& node) {
            if (!occurs(node))
                return;
            StateTimeArray times = node.StateTimes;
            subtractNested(node, times);
            CallGraphNode* target = top;
            target->AddTimes(times);
            for (const CallGraphNode* caller = node.Parent; !caller->IsRoot(); caller = caller->Parent) {
                target = target->FindOrCreateChild(caller->GetFunction(), kUnknownCallerAddress);
                target->AddTimes(times);
            }
        });
}

} // namespace

TEST(CallGraphProperties, MergeIntoAnEmptyRootReproducesTheTree)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        const std::string dump = Dump(run.graph.GetRoot(), run.names);
        CallGraph target;
        target.GetRoot().MergeFrom(run.graph.GetRoot());
        ASSERT_EQ(Dump(target.GetRoot(), run.names), dump) << "seed " << seed;
        ASSERT_EQ(Dump(run.graph.Clone()->GetRoot(), run.names), dump) << "seed " << seed;
    }
}

TEST(CallGraphProperties, DifferenceWithAPrefixGrownCopyIsWhatWasAdded)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        std::unique_ptr<CallGraph> grown = run.graph.Clone();
        CallGraph added;
        const std::vector<RandomStack> more = MakeRandomStacks(run.random, run.names, run.Uniform(0, 10));
        AddRandomStacks(grown->GetRoot(), more);
        AddRandomStacks(added.GetRoot(), more);

        CallGraph difference;
        ASSERT_TRUE(
            BuildDifference(&run.graph.GetRoot(), grown->GetRoot(), difference.GetRoot(), kNotCanceled));
        ASSERT_EQ(SortedDump(difference.GetRoot(), run.names), SortedDump(added.GetRoot(), run.names))
            << "seed " << seed;

        CallGraph nothing;
        ASSERT_TRUE(
            BuildDifference(&run.graph.GetRoot(), run.graph.GetRoot(), nothing.GetRoot(), kNotCanceled));
        ASSERT_TRUE(nothing.GetRoot().Children.empty());
    }
}

TEST(CallGraphProperties, SerializeThenDeserializeIsIdentityAndDamageFailsCleanly)
{
    std::mt19937 flips(7);
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        const std::vector<uint8_t> bytes = SerializeTree(run.graph.GetRoot());
        CallGraph loaded;
        Serialization::ErrorList errors;
        RecordReader reader(bytes);
        ASSERT_TRUE(loaded.GetRoot().DeserializeAdd(reader, errors)) << errors.ToString();
        EXPECT_EQ(reader.GetRemaining(), 0u);
        ASSERT_EQ(Dump(loaded.GetRoot(), run.names), Dump(run.graph.GetRoot(), run.names)) << "seed " << seed;
        ASSERT_EQ(SerializeTree(loaded.GetRoot()), bytes) << "seed " << seed;

        // Reading into a populated graph adds like a merge does.
        RandomGraph other(seed + 100000);
        std::unique_ptr<CallGraph> merged = other.graph.Clone();
        merged->GetRoot().MergeFrom(run.graph.GetRoot());
        ASSERT_TRUE(DeserializeAdd(other.graph.GetRoot(), bytes, errors));
        ASSERT_EQ(Dump(other.graph.GetRoot(), run.names), Dump(merged->GetRoot(), run.names))
            << "seed " << seed;

        // Every truncation fails with one error, and flipped bits fail with errors or read cleanly.
        for (std::size_t size = 0; seed < 10 && size < bytes.size(); ++size) {
            CallGraph target;
            Serialization::ErrorList truncated;
            EXPECT_FALSE(DeserializeAdd(target.GetRoot(), std::span(bytes).first(size), truncated)) << size;
            ASSERT_EQ(truncated.GetCount(), 1u);
            EXPECT_EQ(truncated.GetErrors()[0].code, Serialization::EErrorCode::Corrupt);
        }
        for (int round = 0; round < 8; ++round) {
            std::vector<uint8_t> corrupt = bytes;
            for (int i = 1 + static_cast<int>(flips() % 4); i > 0; --i)
                corrupt[flips() % corrupt.size()] ^= static_cast<uint8_t>(1u << (flips() % 8));
            CallGraph target;
            Serialization::ErrorList damaged;
            const bool read = DeserializeAdd(target.GetRoot(), corrupt, damaged);
            EXPECT_EQ(read, damaged.IsEmpty());
        }
    }
}

TEST(CallGraphProperties, FoldAndMergeKeepTheTotalTime)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        // Any node whose function occurs again below it may be folded; take about half of them.
        RecursionRootSet roots;
        ForEachNode(run.graph.GetRoot(), [&](const CallGraphNode& node) {
            bool recurs = false;
            ForEachNode(node, [&](const CallGraphNode& below) {
                recurs = recurs || (&below != &node && below.HasFunction(node.GetFunction()));
            });
            if (!node.IsRoot() && recurs && run.Uniform(0, 1) == 0)
                roots.insert(&node);
        });
        FoldedCallGraph folded;
        MergedCallGraph merged;
        FoldAndMerge(run.graph.GetRoot(), roots, folded, &merged, true, kNotCanceled);

        const double total = run.graph.GetTotalTime();
        ASSERT_EQ(folded.GetTotalTime(), total) << "seed " << seed;
        ASSERT_EQ(merged.GetTotalTime(), total) << "seed " << seed;
        ASSERT_EQ(folded.CountNodes(), run.graph.CountNodes());
        ForEachNode(folded.GetRoot(), [&](const CallGraphNode& node) {
            for (double time : node.StateTimes)
                ASSERT_GE(time, 0.0) << "seed " << seed;
        });
        if (roots.empty()) {
            ASSERT_EQ(Dump(folded.GetRoot(), run.names), Dump(run.graph.GetRoot(), run.names));
        }

        // Without recursion roots the panel merges the source graph directly: the same nodes,
        // flags, sources and fold states as merging its folded copy.
        FoldedCallGraph copy;
        MergedCallGraph viaCopy;
        MergedCallGraph direct;
        FoldAndMerge(run.graph.GetRoot(), {}, copy, &viaCopy, true, kNotCanceled);
        MergeUnfolded(run.graph.GetRoot(), direct, kNotCanceled);
        const auto sources = [](const CallGraphNode& node) {
            const MergedCallGraphNode& merged = MergedCallGraphNode::From(node);
            std::ostringstream text;
            text << (merged.Recursive ? " recursive" : "");
            for (const MergedSource& source : merged.Sources)
                text << ' ' << source.Node() << ':' << static_cast<int>(source.State());
            return text.str();
        };
        ASSERT_EQ(Dump(direct.GetRoot(), run.names, sources), Dump(viaCopy.GetRoot(), run.names, sources))
            << "seed " << seed;
    }
}

TEST(CallGraphProperties, FunctionListMatchesABruteForceCount)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        const FunctionScope scope = RandomScope(run);
        FunctionListItems items;
        ASSERT_TRUE(BuildFunctionList(run.graph.GetRoot(), scope, items, kNotCanceled));
        std::map<std::string, FunctionListItem> expected = BruteForceList(run, scope);
        ASSERT_EQ(items.size(), expected.size()) << "seed " << seed;
        for (size_t i = 0; i < items.size(); ++i) {
            const FunctionListItem& item = *items[i];
            if (i > 0) {
                ASSERT_GE(items[i - 1]->GetTotalInclusive(), item.GetTotalInclusive());
            }
            const FunctionListItem& reference = expected[run.names.GetName(item.Function)];
            ASSERT_EQ(item.Inclusive, reference.Inclusive) << "seed " << seed;
            ASSERT_EQ(item.Exclusive, reference.Exclusive) << "seed " << seed;
            ASSERT_EQ(item.UnknownExecuting, reference.UnknownExecuting) << "seed " << seed;
            ASSERT_EQ(item.UnknownWait, reference.UnknownWait) << "seed " << seed;
            ASSERT_EQ(item.SampleCount, reference.SampleCount) << "seed " << seed;
        }
    }
}

TEST(CallGraphProperties, CalledByTopHoldsTheFunctionsInclusiveTime)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed);
        const FunctionScope scope = RandomScope(run);
        FunctionListItems items;
        ASSERT_TRUE(BuildFunctionList(run.graph.GetRoot(), scope, items, kNotCanceled));
        const ResolvedAddress function = run.names.Get("f" + std::to_string(run.Uniform(0, 5)));
        double inclusive = 0.0;
        for (const auto& item : items)
            if (item->Function == function)
                inclusive = item->GetTotalInclusive();

        CalledByGraph calledBy;
        ASSERT_TRUE(BuildCalledByGraph(run.graph.GetRoot(), function, scope, calledBy, kNotCanceled));
        ASSERT_EQ(calledBy.GetRoot().Children.size(), 1u);
        ASSERT_EQ(calledBy.GetRoot().Children[0]->InclusiveTime(), inclusive) << "seed " << seed;

        // The calls graphs hold the same time at their top.
        FoldedCallGraph folded;
        MergedCallGraph merged;
        ASSERT_TRUE(
            BuildSubgraphBelowFunction(run.graph.GetRoot(), function, scope, folded, &merged, kNotCanceled));
        ASSERT_EQ(folded.GetTotalTime(), inclusive) << "seed " << seed;
        ASSERT_EQ(merged.GetTotalTime(), inclusive) << "seed " << seed;
    }
}

TEST(CallGraphProperties, ButterflyEqualsABruteForceCalledByAndTheFoldedAndMergedSubtrees)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed, 40);
        const FunctionScope scope = RandomScope(run);
        const ResolvedAddress function = run.names.Get("f" + std::to_string(run.Uniform(0, 5)));
        CalledByGraph calledBy;
        CallGraph calls;
        ASSERT_TRUE(BuildButterfly(run.graph.GetRoot(), function, scope, &calledBy, &calls, kNotCanceled));

        // Whole and half milliseconds add up exactly in any order, so the texts match exactly.
        CallGraph expectedCalledBy;
        BruteForceCalledBy(run, function, scope, expectedCalledBy);
        ASSERT_EQ(SortedDump(calledBy.GetRoot(), run.names),
                  SortedDump(expectedCalledBy.GetRoot(), run.names))
            << "seed " << seed;
        FoldedCallGraph folded;
        MergedCallGraph merged;
        ASSERT_TRUE(
            BuildSubgraphBelowFunction(run.graph.GetRoot(), function, scope, folded, &merged, kNotCanceled));
        ASSERT_EQ(DumpWithoutCallSites(calls.GetRoot(), run.names),
                  DumpWithoutCallSites(merged.GetRoot(), run.names))
            << "seed " << seed;
        ASSERT_LE(calls.CountNodes(), run.graph.CountNodes());
    }
}

/// Fails the test unless every node built below `built` holds the figures of the node at its path
/// in the whole pane, and each stand-in the summed times of the children left out there.
void ExpectBuiltLevelsExact(const CallGraphNode& built, const CallGraphNode& whole, bool calledBy,
                            const FunctionNames& names, uint64_t seed)
{
    StateTimeArray leftOut = {};
    for (const CallGraphNode* child : whole.Children)
        for (int i = 0; i < kThreadStateCount; ++i)
            leftOut[i] += child->StateTimes[i];
    for (const CallGraphNode* child : built.Children) {
        if (IsUnbuiltLevels(*child))
            continue;
        const CallGraphNode* match = whole.FindChild(child->GetFunction());
        ASSERT_NE(match, nullptr) << names.GetName(child->GetFunction()) << ", seed " << seed;
        const std::string at = names.GetName(child->GetFunction()) + ", seed " + std::to_string(seed);
        ASSERT_EQ(child->StateTimes, match->StateTimes) << at;
        ASSERT_TRUE(std::ranges::equal(child->AddressSamples.Span(), match->AddressSamples.Span(),
                                       [](const AddressSample& a, const AddressSample& b) {
                                           return a.Address == b.Address && a.Count == b.Count;
                                       }))
            << at;
        if (calledBy) {
            ASSERT_EQ(CalledByGraphNode::From(*child).WithinCustomRoot,
                      CalledByGraphNode::From(*match).WithinCustomRoot)
                << at;
        }
        for (int i = 0; i < kThreadStateCount; ++i)
            leftOut[i] -= child->StateTimes[i];
        ExpectBuiltLevelsExact(*child, *match, calledBy, names, seed);
    }
    const CallGraphNode* unbuilt = FindUnbuiltLevels(built);
    ASSERT_EQ(unbuilt ? unbuilt->StateTimes : StateTimeArray{}, leftOut) << "seed " << seed;
}

/// Opens every row below `node` whose children were left out, each into a graph of its own as the
/// function list does, checks the rows built against the whole pane, and returns how many rows
/// there are below `node` when all are open.
std::size_t OpenAllRows(const RandomGraph& run, const ResolvedAddress& function, const FunctionScope& scope,
                        const CallGraphNode& node, const CallGraph& whole, bool calledBy,
                        const ButterflyLimits& limits, uint64_t seed)
{
    const CallGraphNode* rows = &node;
    std::unique_ptr<CallGraph> levels;
    if (FindUnbuiltLevels(node) != nullptr) {
        const std::vector<ResolvedAddress> path = GetButterflyPath(node);
        levels = calledBy ? std::make_unique<CalledByGraph>() : std::make_unique<CallGraph>();
        EXPECT_TRUE(BuildButterflyLevels(run.graph.GetRoot(), function, scope, path,
                                         calledBy ? static_cast<CalledByGraph*>(levels.get()) : nullptr,
                                         calledBy ? nullptr : levels.get(), limits, kNotCanceled));
        rows = FindButterflyPath(levels->GetRoot(), path);
        const CallGraphNode* match = FindButterflyPath(whole.GetRoot(), path);
        if (rows == nullptr || match == nullptr || FindUnbuiltLevels(*rows) != nullptr) {
            ADD_FAILURE() << "the opened row has no children of its own, seed " << seed;
            return 0;
        }
        EXPECT_EQ(rows->StateTimes, match->StateTimes) << "seed " << seed;
        ExpectBuiltLevelsExact(*rows, *match, calledBy, run.names, seed);
    }
    std::size_t count = 0;
    for (const CallGraphNode* child : rows->Children)
        if (!IsUnbuiltLevels(*child))
            count += 1 + OpenAllRows(run, function, scope, *child, whole, calledBy, limits, seed);
    return count;
}

TEST(CallGraphProperties, ButterflyBuiltInLevelsHoldsTheWholeFigures)
{
    for (uint64_t seed = 0; seed < kTrees; ++seed) {
        RandomGraph run(seed, 40);
        const FunctionScope scope = RandomScope(run);
        const ResolvedAddress function = run.names.Get("f" + std::to_string(run.Uniform(0, 5)));
        CalledByGraph wholeCalledBy;
        CallGraph wholeCalls;
        ASSERT_TRUE(
            BuildButterfly(run.graph.GetRoot(), function, scope, &wholeCalledBy, &wholeCalls, kNotCanceled));
        ButterflyLimits limits;
        limits.WholeLevels = static_cast<uint32_t>(run.Uniform(0, 2));
        limits.NodeBudget = static_cast<std::size_t>(run.Uniform(0, 12));
        CalledByGraph calledBy;
        CallGraph calls;
        ASSERT_TRUE(
            BuildButterfly(run.graph.GetRoot(), function, scope, &calledBy, &calls, kNotCanceled, limits));
        ExpectBuiltLevelsExact(calledBy.GetRoot(), wholeCalledBy.GetRoot(), true, run.names, seed);
        ExpectBuiltLevelsExact(calls.GetRoot(), wholeCalls.GetRoot(), false, run.names, seed);

        // Opened row by row, each into a graph of its own, the panes are the whole ones.
        limits.WholeLevels = static_cast<uint32_t>(run.Uniform(0, 2));
        limits.NodeBudget = static_cast<std::size_t>(run.Uniform(0, 12));
        EXPECT_EQ(OpenAllRows(run, function, scope, calledBy.GetRoot(), wholeCalledBy, true, limits, seed),
                  wholeCalledBy.CountNodes())
            << "seed " << seed;
        EXPECT_EQ(OpenAllRows(run, function, scope, calls.GetRoot(), wholeCalls, false, limits, seed),
                  wholeCalls.CountNodes())
            << "seed " << seed;
    }
}

TEST(CallGraphProperties, CallsPaneOfAWideGraphEqualsTheFoldedAndMergedSubtrees)
{
    // Hundreds of functions below one node: children past the linear search, a path map that
    // grows while functions are on the path.
    std::mt19937_64 random(5);
    FunctionNames names;
    CallGraph graph;
    const auto frame = [&](int index) { return Frame{names.Get("w" + std::to_string(index))}; };
    for (int i = 0; i < 3000; ++i) {
        std::vector<Frame> frames{{names.Get("main")}, {names.Get("f")}};
        const int depth = static_cast<int>(random() % 6);
        for (int level = 0; level < depth; ++level)
            frames.push_back(random() % 4 == 0 ? frames[1 + random() % (frames.size() - 1)]
                                               : frame(static_cast<int>(random() % 1500)));
        StateTimeArray times{};
        times[static_cast<int>(EThreadState::Executing)] = 0.5 * static_cast<double>(1 + random() % 4);
        AddStack(graph.GetRoot(), frames, times);
    }
    FoldedCallGraph folded;
    MergedCallGraph merged;
    ASSERT_TRUE(
        BuildSubgraphBelowFunction(graph.GetRoot(), names.Get("f"), {}, folded, &merged, kNotCanceled));
    CallGraph calls;
    ASSERT_TRUE(BuildCallsGraph(graph.GetRoot(), names.Get("f"), {}, calls, kNotCanceled));
    ASSERT_GT(calls.GetRoot().Children[0]->Children.size(), 1000u);
    EXPECT_EQ(DumpWithoutCallSites(calls.GetRoot(), names), DumpWithoutCallSites(merged.GetRoot(), names));
}
