#pragma once

#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/FunctionScope.h"

#include <atomic>

namespace Profiler {

class CallGraph;
class CalledByGraph;
class FoldedCallGraph;
class MergedCallGraph;

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
/// BuildCallsGraph would; either may be null. Returns false when canceled.
[[nodiscard]] bool BuildButterfly(const CallGraphNode& root, const ResolvedAddress& function,
                                  const FunctionScope& scope, CalledByGraph* calledBy, CallGraph* calls,
                                  const std::atomic<bool>& canceled);

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
