#pragma once

#include "CallGraphModel/CallGraphFolding.h"
#include "System/Job.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTypes.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace System {
class JobScheduler;
}

namespace Profiler {

/// What a rebuild starts from, handed back with its result.
struct CallGraphRebuildRequest {
    CallGraphInputParameters Parameters;
    ResolvedCallstack CustomRoot;
    std::shared_ptr<const CallGraph> FullGraph;
    RecursionRootSet RecursionRoots;
    bool SelectOnFinish = false;
    bool TryMaintainState = false;
    bool IsFullRebuild = false;
};

struct CallGraphRebuildResult {
    CallGraphRebuildRequest Request;
    std::shared_ptr<FoldedCallGraph> FoldedGraph;
    std::shared_ptr<MergedCallGraph> MergedGraph;
    std::size_t FullNodeCount = 0; ///< counted here so that the user interface thread never walks the graph
};

/// Derives the folded and merged graphs of a panel on a job. A new rebuild supersedes the
/// running one, whose result is dropped; completions run on the context object's thread and
/// never after the context is gone. The calling thread never waits.
class CallGraphRebuilder {
public:
    using Completion = std::function<void(CallGraphRebuildResult)>;

    /// Without a scheduler the rebuilder runs its own one-thread scheduler.
    CallGraphRebuilder(QObject* context, System::JobScheduler* scheduler);
    ~CallGraphRebuilder();
    CallGraphRebuilder(const CallGraphRebuilder&) = delete;
    CallGraphRebuilder& operator=(const CallGraphRebuilder&) = delete;

    void Start(CallGraphRebuildRequest request, Completion completion);
    /// Drops the running rebuild, if any; its completion never runs.
    void Cancel();
    bool IsRunning() const { return mRunning; }

private:
    QPointer<QObject> mContext;
    std::unique_ptr<System::JobScheduler> mOwnScheduler;
    System::JobScheduler* mScheduler; // not owned unless it is mOwnScheduler
    System::JobHandle mJob;
    std::shared_ptr<uint64_t> mGeneration = std::make_shared<uint64_t>(0);
    bool mRunning = false;
};

} // namespace Profiler
