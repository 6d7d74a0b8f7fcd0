#pragma once

#include <atomic>
#include <unordered_set>

namespace Profiler {

struct CallGraphNode;
class FoldedCallGraph;
class MergedCallGraph;

/// Source nodes at which a recursion is folded: re-entries of the node's function below it move
/// beside it.
using RecursionRootSet = std::unordered_set<const CallGraphNode*>;

/// Fills the empty `folded` graph with a copy of the tree below `sourceRoot` in which re-entries
/// below each recursion root are moved beside that root (their time taken off the frames in
/// between), then fills the empty `merged` graph (when given) from the folded one with the nodes
/// of one function under one parent merged whatever their call sites. Recording mode also keeps
/// the source node and fold state of each folded node, and on each merged node the source nodes
/// merged into it with their fold states.
/// A raised cancel flag stops the work and leaves partial graphs for the caller to discard.
void FoldAndMerge(const CallGraphNode& sourceRoot, const RecursionRootSet& recursionRoots,
                  FoldedCallGraph& folded, MergedCallGraph* merged, bool recording,
                  const std::atomic<bool>& canceled);

/// FoldAndMerge in recording mode with no recursion roots, without the folded graph, which would
/// be a copy of the source: `merged` is built from the tree of `sourceRoot` directly, and its
/// sources point into that tree, which must outlive it.
void MergeUnfolded(const CallGraphNode& sourceRoot, MergedCallGraph& merged, const std::atomic<bool>& canceled);

} // namespace Profiler
