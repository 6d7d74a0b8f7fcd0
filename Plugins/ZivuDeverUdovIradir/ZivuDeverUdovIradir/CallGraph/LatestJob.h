#pragma once

#include "System/Job.h"
#include "System/JobScheduler.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Profiler {

/// Runs a panel's background work, one request at a time: a new start supersedes the running
/// job, whose result is dropped. Completions run on the context object's thread and never after
/// the context or the runner is gone. The calling thread never waits.
template <class Result> class LatestJob {
public:
    /// Returns no value when it saw the cancel flag.
    using Work = std::function<std::optional<Result>(const std::atomic<bool>& canceled)>;
    using Completion = std::function<void(Result)>;

    /// Without a scheduler the runner has a one-thread scheduler of its own.
    LatestJob(QObject* context, System::JobScheduler* scheduler) : mContext(context), mScheduler(scheduler)
    {
        if (mScheduler == nullptr) {
            mOwnScheduler = std::make_unique<System::JobScheduler>(1);
            mScheduler = mOwnScheduler.get();
        }
    }
    ~LatestJob() { Cancel(); }
    LatestJob(const LatestJob&) = delete;
    LatestJob& operator=(const LatestJob&) = delete;

    void Start(Work work, Completion completion)
    {
        Cancel();
        mRunning = true;
        System::JobDescription description;
        description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
            auto& self = static_cast<WorkJob&>(job);
            self.mResult = self.mWork(canceled);
        };
        // The finalization runs on a worker thread: the result travels to the context's thread,
        // where a newer start (a changed generation) or a destroyed runner drops it.
        description.finalization =
            [this, context = mContext, weakGeneration = std::weak_ptr<uint64_t>(mGeneration),
             generation = *mGeneration,
             completion = std::move(completion)](System::EJobFinalizationState state, System::Job& job) {
                auto& done = static_cast<WorkJob&>(job);
                if (state != System::EJobFinalizationState::Completed || !context || !done.mResult)
                    return;
                auto result = std::make_shared<Result>(std::move(*done.mResult));
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
        mJob = mScheduler->Schedule(std::move(description), std::make_unique<WorkJob>(std::move(work)));
    }

    /// Drops the running job, if any; its completion never runs.
    void Cancel()
    {
        ++*mGeneration;
        if (mJob.IsValid())
            mScheduler->Cancel(System::ECancelMode::Chain, mJob);
        mJob = {};
        mRunning = false;
    }
    bool IsRunning() const { return mRunning; }

private:
    class WorkJob final : public System::Job {
    public:
        explicit WorkJob(Work work) : System::Job(nullptr), mWork(std::move(work)) {}
        Work mWork;
        std::optional<Result> mResult;
    };

    QPointer<QObject> mContext;
    std::unique_ptr<System::JobScheduler> mOwnScheduler;
    System::JobScheduler* mScheduler; // not owned unless it is mOwnScheduler
    System::JobHandle mJob;
    std::shared_ptr<uint64_t> mGeneration = std::make_shared<uint64_t>(0);
    bool mRunning = false;
};

} // namespace Profiler
