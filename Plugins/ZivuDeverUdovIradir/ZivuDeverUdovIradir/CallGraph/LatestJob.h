#pragma once

#include "System/Job.h"
#include "System/JobScheduler.h"
#include "ZivuDeverUdovIradir/ResultMailbox.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Profiler {

/// Runs a panel's background work, one request at a time: a new start supersedes the running
/// job, whose result is dropped. Completions run on the user interface thread and never after
/// the runner is gone. The calling thread never waits. The result travels through a mailbox, so
/// a dropped one is destroyed by the job's thread and the queued call carries no engine data.
template <class Result> class LatestJob {
public:
    /// Returns no value when it saw the cancel flag.
    using Work = std::function<std::optional<Result>(const std::atomic<bool>& canceled)>;
    using Completion = std::function<void(Result)>;

    /// Without a scheduler the runner has a one-thread scheduler of its own.
    explicit LatestJob(System::JobScheduler* scheduler) : mScheduler(scheduler)
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
        mCompletion = std::move(completion);
        const uint64_t generation = mMailbox->Renew();
        System::JobDescription description;
        description.work = [](System::Job& job, const std::atomic<bool>& canceled) {
            auto& self = static_cast<WorkJob&>(job);
            self.mResult = self.mWork(canceled);
        };
        description.finalization = [this, mailbox = std::weak_ptr<Mailbox>(mMailbox),
                                    generation](System::EJobFinalizationState state, System::Job& job) {
            auto& done = static_cast<WorkJob&>(job);
            const std::shared_ptr<Mailbox> box = mailbox.lock();
            if (state != System::EJobFinalizationState::Completed || !done.mResult || !box)
                return;
            box->Post(generation, std::make_unique<Result>(std::move(*done.mResult)));
            // A newer start or the runner's end renews the mailbox first, so the call finds
            // nothing and never touches a runner that is gone.
            QMetaObject::invokeMethod(
                qApp,
                [this, mailbox, generation] {
                    const std::shared_ptr<Mailbox> current = mailbox.lock();
                    if (!current || !current->IsCurrent(generation))
                        return;
                    std::unique_ptr<Result> result = current->Take(generation);
                    if (!result)
                        return;
                    mRunning = false;
                    mJob = {};
                    mCompletion(std::move(*result));
                },
                Qt::QueuedConnection);
        };
        mJob = mScheduler->Schedule(std::move(description), std::make_unique<WorkJob>(std::move(work)));
    }

    /// Drops the running job, if any; its completion never runs.
    void Cancel()
    {
        mMailbox->Renew();
        if (mJob.IsValid())
            mScheduler->Cancel(System::ECancelMode::Chain, mJob);
        mJob = {};
        mRunning = false;
    }
    bool IsRunning() const { return mRunning; }

private:
    using Mailbox = ResultMailbox<Result>;
    class WorkJob final : public System::Job {
    public:
        explicit WorkJob(Work work) : System::Job(nullptr), mWork(std::move(work)) {}
        Work mWork;
        std::optional<Result> mResult;
    };

    std::unique_ptr<System::JobScheduler> mOwnScheduler;
    System::JobScheduler* mScheduler; // not owned unless it is mOwnScheduler
    System::JobHandle mJob;
    std::shared_ptr<Mailbox> mMailbox = std::make_shared<Mailbox>();
    Completion mCompletion;
    bool mRunning = false;
};

} // namespace Profiler
