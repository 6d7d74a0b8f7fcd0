#include "ZivuDeverUdovIradir/CallGraph/CallGraphRebuild.h"

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"

namespace Profiler {

std::optional<CallGraphRebuildResult> RunRebuild(CallGraphRebuildRequest request,
                                                 const std::atomic<bool>& canceled)
{
    CallGraphRebuildResult result;
    std::shared_ptr<FoldedCallGraph> folded;
    auto merged = std::make_shared<MergedCallGraph>();
    if (request.FullGraph) {
        result.FullNodeCount = request.FullGraph->CountNodes();
        if (request.RecursionRoots.empty()) {
            // Nothing folded (always so after a new query): the folded graph would copy the full
            // one node for node, which on a long capture costs gigabytes, so there is none.
            MergeUnfolded(request.FullGraph->GetRoot(), *merged, canceled);
        } else {
            folded = std::make_shared<FoldedCallGraph>();
            FoldAndMerge(request.FullGraph->GetRoot(), request.RecursionRoots, *folded, merged.get(), true,
                         canceled);
        }
    }
    if (canceled.load(std::memory_order_relaxed))
        return std::nullopt;
    if (!request.FindText.empty() && request.FindNames) {
        const std::vector<const CallGraphNode*> roots = ShownRoots(*merged, request.CustomRoot);
        auto find = RunFind(roots, request.FindText, *request.FindNames, result.FullNodeCount, canceled);
        if (!find)
            return std::nullopt;
        result.FindState = std::move(*find);
    }
    result.FoldedGraph = std::move(folded);
    result.MergedGraph = std::move(merged);
    result.Request = std::move(request);
    return result;
}

std::optional<std::shared_ptr<CallGraphFindState>> RunFind(std::span<const CallGraphNode* const> roots,
                                                           std::string_view text, FindNameCache& names,
                                                           std::size_t reserve,
                                                           const std::atomic<bool>& canceled)
{
    auto state = std::make_shared<CallGraphFindState>();
    // The shown graph has at most as many nodes as the full one.
    state->Reserve(reserve);
    const std::lock_guard lock(names.Mutex);
    if (!state->Apply(roots, text, names.Names, &canceled))
        return std::nullopt;
    return state;
}

std::vector<const CallGraphNode*> ShownRoots(const MergedCallGraph& merged,
                                             const ResolvedCallstack& customRoot,
                                             const CallGraphNode** customRootNode)
{
    std::vector<const CallGraphNode*> roots;
    const CallGraphNode* node = nullptr;
    if (customRoot.empty()) {
        for (const CallGraphNode* child : merged.GetRoot().Children)
            roots.push_back(child);
    } else {
        node = FindNodeByPath(merged.GetRoot(), customRoot);
        if (node != nullptr)
            roots.push_back(node);
    }
    if (customRootNode != nullptr)
        *customRootNode = node;
    return roots;
}

} // namespace Profiler
