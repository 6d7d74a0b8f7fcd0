#include "ZivuDeverUdovIradir/CallGraph/CallGraphRebuild.h"

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "System/JobScheduler.h"

#include <QMetaObject>

namespace Profiler {

namespace {

class RebuildJob final : public System::Job {
public:
    explicit RebuildJob(CallGraphRebuildRequest request) : System::Job(nullptr)
    {
        mResult.Request = std::move(request);
    }

    void Run(const std::atomic<bool>& canceled)
    {
        auto folded = std::make_shared<FoldedCallGraph>();
        auto merged = std::make_shared<MergedCallGraph>();
        if (mResult.Request.FullGraph) {
            mResult.FullNodeCount = mResult.Request.FullGraph->CountNodes();
            FoldAndMerge(mResult.Request.FullGraph->GetRoot(), mResult.Request.RecursionRoots, *folded,
                         merged.get(), true, canceled);
        }
        if (canceled.load(std::memory_order_relaxed))
            return;
        mResult.FoldedGraph = std::move(folded);
        mResult.MergedGraph = std::move(merged);
    }

    CallGraphRebuildResult mResult;
};

} // namespace

CallGraphRebuilder::CallGraphRebuilder(QObject* context, System::JobScheduler* scheduler)
    : mContext(context), mScheduler(scheduler)
{
    if (mScheduler == nullptr) {
        mOwnScheduler = std::make_unique<System::JobScheduler>(1);
        mScheduler = mOwnScheduler.get();
    }
}

CallGraphRebuilder::~CallGraphRebuilder()
{
    Cancel();
}

void CallGraphRebuilder::Cancel()
{
    ++*mGeneration;
    if (mJob.IsValid())
        mScheduler->Cancel(System::ECancelMode::Chain, mJob);
    mJob = {};
    mRunning = false;
}

void CallGraphRebuilder::Start(CallGraphRebuildRequest request, Completion completion)
{
    Cancel();
    mRunning = true;
    const uint64_t generation = *mGeneration;
    System::JobDescription description;
    description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
        static_cast<RebuildJob&>(job).Run(canceled);
    };
    // The finalization runs on a worker thread: the result travels to the context's thread,
    // where a newer rebuild (a changed generation) or a destroyed rebuilder drops it.
    description.finalization =
        [this, context = mContext, weakGeneration = std::weak_ptr<uint64_t>(mGeneration), generation,
         completion = std::move(completion)](System::EJobFinalizationState state, System::Job& job) {
            if (state != System::EJobFinalizationState::Completed || !context)
                return;
            auto result =
                std::make_shared<CallGraphRebuildResult>(std::move(static_cast<RebuildJob&>(job).mResult));
            if (!result->MergedGraph)
                return;
            QMetaObject::invokeMethod(
                context.data(),
                [this, weakGeneration, generation, completion, result] {
                    auto current = weakGeneration.lock();
                    if (!current || *current != generation)
                        return;
                    mRunning = false;
                    mJob = {};
                    completion(std::move(*result));
                },
                Qt::QueuedConnection);
        };
    mJob = mScheduler->Schedule(std::move(description), std::make_unique<RebuildJob>(std::move(request)));
}

} // namespace Profiler
