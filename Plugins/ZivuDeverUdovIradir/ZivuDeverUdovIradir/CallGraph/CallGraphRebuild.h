#pragma once

#include "CallGraphModel/CallGraphFolding.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTypes.h"
#include "ZivuDeverUdovIradir/CallGraph/LatestJob.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Profiler {

class IFunctionInfoProvider;

/// The name cache of a panel's find jobs. One find runs at a time, but a superseded one may
/// still be finishing its visit when the next starts, hence the lock. It keeps the provider
/// alive for jobs that outlive their panel.
struct FindNameCache {
    explicit FindNameCache(std::shared_ptr<const IFunctionInfoProvider> provider)
        : Provider(std::move(provider)), Names(Provider.get())
    {}
    std::shared_ptr<const IFunctionInfoProvider> Provider;
    std::mutex Mutex;
    FunctionNameCache Names;
};

/// What a rebuild starts from, handed back with its result.
struct CallGraphRebuildRequest {
    CallGraphInputParameters Parameters;
    ResolvedCallstack CustomRoot;
    std::shared_ptr<const CallGraph> FullGraph;
    RecursionRootSet RecursionRoots;
    bool SelectOnFinish = false;
    bool TryMaintainState = false;
    bool IsFullRebuild = false;
    /// A find to run again over the rebuilt graph (empty: none), so that the tree arrives
    /// filtered instead of being filtered on the user interface thread.
    std::string FindText;
    std::shared_ptr<FindNameCache> FindNames;
};

struct CallGraphRebuildResult {
    CallGraphRebuildRequest Request;
    std::shared_ptr<FoldedCallGraph> FoldedGraph; ///< null when no recursion is folded
    std::shared_ptr<MergedCallGraph> MergedGraph;
    std::size_t FullNodeCount = 0; ///< counted here so that the user interface thread never walks the graph
    std::shared_ptr<CallGraphFindState> FindState; ///< null without a find text
};

/// Derives the folded and merged graphs of a panel on a job.
class CallGraphRebuilder final : public LatestJob<CallGraphRebuildResult> {
    using LatestJob::LatestJob;
};
/// Visits the shown graph for a find on a job.
class CallGraphFinder final : public LatestJob<std::shared_ptr<CallGraphFindState>> {
    using LatestJob::LatestJob;
};
/// Looks for a find's first match on a job, beside the whole visit.
class CallGraphFirstMatchFinder final : public LatestJob<const CallGraphNode*> {
    using LatestJob::LatestJob;
};

/// The rebuild itself: fold and merge, count, and the find when one is asked for.
std::optional<CallGraphRebuildResult> RunRebuild(CallGraphRebuildRequest request,
                                                 const std::atomic<bool>& canceled);

/// A find over the subtrees of `roots`; no value when canceled. `reserve` sizes the state's
/// table (the number of nodes the visit may meet).
std::optional<std::shared_ptr<CallGraphFindState>> RunFind(std::span<const CallGraphNode* const> roots,
                                                           std::string_view text, FindNameCache& names,
                                                           std::size_t reserve,
                                                           const std::atomic<bool>& canceled);

/// The top rows of the tree over `merged`: the root's children, or the custom root alone
/// (nothing when the path is not in the graph). `customRootNode` receives the custom root.
std::vector<const CallGraphNode*> ShownRoots(const MergedCallGraph& merged,
                                             const ResolvedCallstack& customRoot,
                                             const CallGraphNode** customRootNode = nullptr);

} // namespace Profiler
