#pragma once

#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/FunctionScope.h"

#include <atomic>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace Profiler {

class CallGraph;
class CalledByGraph;
class FoldedCallGraph;
class MergedCallGraph;

/// How much of a butterfly pane one walk builds. Figures are exact whatever is left out: a node
/// whose children were not built has one stand-in child (IsUnbuiltLevels) that holds their summed
/// figures, so the node's exclusive time reads right, and BuildButterflyLevels builds them when
/// they are wanted.
struct ButterflyLimits {
    static constexpr uint32_t kAllLevels = std::numeric_limits<uint32_t>::max();

    /// Levels built whole below the top node (first build) or below the node opened (at least one).
    uint32_t WholeLevels = kAllLevels;
    /// Nodes created below the whole levels, wherever the walk meets them first.
    std::size_t NodeBudget = 0;
};

/// True for the stand-in child of a pane node whose children are not built yet.
bool IsUnbuiltLevels(const CallGraphNode& node);
/// The stand-in child of `node`, or null when its children are built.
const CallGraphNode* FindUnbuiltLevels(const CallGraphNode& node);

/// Fills the empty `calledBy` graph with `function` at the top (a child of the root) and its
/// callers below it, out to the outermost frames; every node holds the time of `function`
/// reached through that caller chain, nested occurrences counted once. Returns false when
/// canceled (the graph is then partial).
bool BuildCalledByGraph(const CallGraphNode& root, const ResolvedAddress& function,
                        const FunctionScope& scope, CalledByGraph& calledBy,
                        const std::atomic<bool>& canceled);

/// Fills the empty `calls` graph with what `function` calls, as the butterfly's "Calls" pane shows
/// it: one top node for all occurrences of `function` in scope and below it their call paths,
/// every recursive re-entry folded onto the outermost occurrence of its function on the path and
/// the nodes of one function under one parent merged. The same figures as folding and merging
/// the collected subtrees (BuildSubgraphBelowFunction), made in one pass over the source nodes
/// without copies; the pane has at most as many nodes as the subtrees below the occurrences.
/// Returns false when canceled (the graph is then partial).
[[nodiscard]] bool BuildCallsGraph(const CallGraphNode& root, const ResolvedAddress& function,
                                   const FunctionScope& scope, CallGraph& calls,
                                   const std::atomic<bool>& canceled);

/// Fills both butterfly graphs in one walk over the source graph, as BuildCalledByGraph and
/// BuildCallsGraph would; either may be null. Each pane is built within `limits`. Returns false
/// when canceled.
[[nodiscard]] bool BuildButterfly(const CallGraphNode& root, const ResolvedAddress& function,
                                  const FunctionScope& scope, CalledByGraph* calledBy, CallGraph* calls,
                                  const std::atomic<bool>& canceled, const ButterflyLimits& limits = {});

/// Builds below one node of a butterfly pane that BuildButterfly (or this function) left out
/// children of, into the empty `calledBy` or `calls` graph (one of them null), from the same
/// source, function and scope. `path` holds the functions of the node and its ancestors from the
/// pane's top node down (GetButterflyPath). The new graph holds that path, the node's children and
/// below them what `limits` allow, all with the figures of a whole build; the other children of
/// the path's nodes go to their stand-ins. Returns false when canceled (the graph is then partial).
[[nodiscard]] bool BuildButterflyLevels(const CallGraphNode& root, const ResolvedAddress& function,
                                        const FunctionScope& scope, std::span<const ResolvedAddress> path,
                                        CalledByGraph* calledBy, CallGraph* calls,
                                        const ButterflyLimits& limits, const std::atomic<bool>& canceled);

/// The functions of a butterfly pane node and its ancestors, from the top node down.
std::vector<ResolvedAddress> GetButterflyPath(const CallGraphNode& node);
/// The node at `path` below `root` (the root itself for an empty path), or null.
const CallGraphNode* FindButterflyPath(const CallGraphNode& root, std::span<const ResolvedAddress> path);

/// Copies the subtrees below every occurrence of `function` in scope into the empty `calls`
/// graph, occurrences with the same call site merged, and collects as recursion roots the
/// outer occurrences of every function that re-enters itself on a path of the copy.
bool CollectSubtreesBelowFunction(const CallGraphNode& root, const ResolvedAddress& function,
                                  const FunctionScope& scope, CallGraph& calls,
                                  RecursionRootSet& recursionRoots, const std::atomic<bool>& canceled);

/// Collects the subtrees below `function` and folds and merges them (non-recording). `merged`
/// may be null when only the folded graph is wanted. Returns false when canceled.
bool BuildSubgraphBelowFunction(const CallGraphNode& root, const ResolvedAddress& function,
                                const FunctionScope& scope, FoldedCallGraph& folded, MergedCallGraph* merged,
                                const std::atomic<bool>& canceled);

} // namespace Profiler
