#include "System/JobScheduler.h"
#include "System/Platform/Thread.h"

#include <gtest/gtest.h>

#include <barrier>
#include <future>
#include <latch>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using System::ECancelMode;
using System::Job;
using System::JobDescription;
using System::JobHandle;
using System::JobScheduler;
using State = System::EJobFinalizationState;
using States = std::vector<State>;
using Flag = const std::atomic<bool>&;
using Handles = std::vector<JobHandle>;

/// A one-shot signal between threads.
class Gate {
public:
    void Open() { mPromise.set_value(); }
    void Pass() const { mFuture.wait(); }

private:
    std::promise<void> mPromise;
    std::shared_future<void> mFuture = mPromise.get_future().share();
};

/// The finalization states of a job and whether its work ran.
struct Record {
    std::mutex mutex;
    States states;
    std::atomic<bool> ran{false};

    States Get()
    {
        std::lock_guard lock(mutex);
        return states;
    }
};

JobDescription Describe(Record* record, std::function<void(Job&, Flag)> work = {}, int group = -1,
                        uint32_t tag = 0)
{
    JobDescription description;
    description.work = [record, work = std::move(work)](Job& job, Flag canceled) {
        if (record)
            record->ran = true;
        if (work)
            work(job, canceled);
    };
    if (record)
        description.finalization = [record](State state, Job&) {
            std::lock_guard lock(record->mutex);
            record->states.push_back(state);
        };
    description.groupId = group;
    description.tag = tag;
    return description;
}

/// Occupies the only worker of a one-thread scheduler until it is released or destroyed.
struct BlockedWorker {
    JobScheduler& scheduler;
    Gate started, release;
    JobHandle handle = scheduler.Schedule(Describe(nullptr, [this](Job&, Flag) {
        started.Open();
        release.Pass();
    }));

    explicit BlockedWorker(JobScheduler& owner) : scheduler(owner) { started.Pass(); }
    ~BlockedWorker()
    {
        if (!released)
            release.Open();
        scheduler.Wait(handle);
    }
    void Release()
    {
        released = true;
        release.Open();
    }
    bool released = false;
};

const States kCanceled = {State::CancelRequested, State::Canceled};
const States kCompleted = {State::Completed};

TEST(JobScheduler, RunsByPriorityAndInScheduleOrderAmongEquals)
{
    std::string order;
    std::latch done(6); // the test thread must not wait on the scheduler: it would run jobs too
    JobScheduler scheduler(1);
    {
        BlockedWorker blocker(scheduler);
        for (auto [name, priority] : {std::pair{'a', 1}, {'b', 1}, {'c', 0}, {'d', 2}, {'e', 1}, {'f', 0}}) {
            JobDescription description = Describe(nullptr, [&, name = name](Job&, Flag) {
                order += name;
                done.count_down();
            });
            description.priority = static_cast<uint8_t>(priority);
            scheduler.Schedule(std::move(description));
        }
        blocker.Release();
        done.wait();
    }
    EXPECT_EQ(order, "cfabed");
}

TEST(JobScheduler, JobsOfOneGroupNeverOverlapEvenWithIdleWorkers)
{
    // The first job of group 3 blocks. A later job of another group runs meanwhile, so workers
    // are free, yet the second job of group 3 (queued before it) must wait for the first.
    Gate firstStarted, releaseFirst, otherRan;
    std::atomic<bool> firstDone{false}, secondEarly{false};
    JobScheduler scheduler(4);
    const JobHandle a = scheduler.Schedule(Describe(
        nullptr,
        [&](Job&, Flag) {
            firstStarted.Open();
            releaseFirst.Pass();
            firstDone = true;
        },
        3));
    firstStarted.Pass();
    const JobHandle b = scheduler.Schedule(Describe(
        nullptr, [&](Job&, Flag) { secondEarly = !firstDone; }, 3));
    const JobHandle c = scheduler.Schedule(Describe(nullptr, [&](Job&, Flag) { otherRan.Open(); }));
    otherRan.Pass();
    releaseFirst.Open();
    scheduler.Wait(Handles{a, b, c});
    EXPECT_FALSE(secondEarly);
}

TEST(JobScheduler, CancelMatchesByChainGroupOrTag)
{
    // Pending jobs are finalized with CancelRequested and Canceled at once and never run; a
    // running one hears CancelRequested at once and Canceled when its work returns.
    Record outer, child1, child2, groupA, groupB, tagged, untouched;
    JobHandle c1, c2;
    Gate childrenScheduled, release;
    JobScheduler scheduler(1);
    // The outer job schedules two children (its chain) and then occupies the only worker.
    const JobHandle o = scheduler.Schedule(Describe(&outer, [&](Job&, Flag) {
        c1 = scheduler.Schedule(Describe(&child1));
        c2 = scheduler.Schedule(Describe(&child2, {}, 20));
        childrenScheduled.Open();
        release.Pass();
    }));
    childrenScheduled.Pass();
    EXPECT_EQ(c1.chain, o.chain);
    EXPECT_GE(o.group, 0x80000000u); // fresh groups never collide with named ones
    const JobHandle a = scheduler.Schedule(Describe(&groupA, {}, 10, 1));
    const JobHandle b = scheduler.Schedule(Describe(&groupB, {}, 10, 2));
    const JobHandle t = scheduler.Schedule(Describe(&tagged, {}, 11, 3));
    const JobHandle u = scheduler.Schedule(Describe(&untouched, {}, 12, 4));
    EXPECT_NE(a.chain, b.chain); // scheduled from outside any job

    scheduler.Cancel(ECancelMode::Group, a);
    EXPECT_EQ(groupB.Get(), kCanceled);
    EXPECT_TRUE(tagged.Get().empty());
    scheduler.Cancel(ECancelMode::Tag, t);
    EXPECT_EQ(tagged.Get(), kCanceled);
    scheduler.Cancel(ECancelMode::Chain, o);
    EXPECT_EQ(outer.Get(), States{State::CancelRequested}); // still running
    EXPECT_EQ(child2.Get(), kCanceled);

    release.Open();
    scheduler.Wait(Handles{o, c1, c2, a, b, t, u});
    EXPECT_EQ(outer.Get(), kCanceled);
    EXPECT_EQ(untouched.Get(), kCompleted);
    for (Record* record : {&child1, &child2, &groupA, &groupB, &tagged}) {
        EXPECT_FALSE(record->ran);
        EXPECT_EQ(record->Get(), kCanceled);
    }
}

TEST(JobScheduler, CancelAndWaitReturnsOnlyAfterTheWorkReturned)
{
    Gate started, mayReturn;
    std::atomic<bool> workReturned{false}, cancelReturned{false};
    Record self;
    JobScheduler scheduler(2);
    const JobHandle handle = scheduler.Schedule(Describe(nullptr, [&](Job&, Flag canceled) {
        started.Open();
        canceled.wait(false);
        mayReturn.Pass();
        workReturned = true;
    }));
    started.Pass();
    scheduler.Cancel(ECancelMode::Chain, handle); // an earlier plain cancel changes nothing
    std::thread canceler([&] {
        scheduler.CancelAndWait(ECancelMode::Chain, handle);
        EXPECT_TRUE(workReturned);
        cancelReturned = true;
    });
    EXPECT_FALSE(cancelReturned);
    mayReturn.Open();
    canceler.join();

    // A job canceling its own chain synchronously does not wait for itself.
    scheduler.Wait(scheduler.Schedule(Describe(
        &self, [&](Job& job, Flag) { scheduler.CancelAndWait(ECancelMode::Chain, job.GetHandle()); })));
    EXPECT_EQ(self.Get(), kCanceled);
}

TEST(JobScheduler, SchedulingFromACanceledJobIsRefusedUnlessDetached)
{
    Record child, detached;
    JobHandle childHandle, detachedHandle;
    Gate started;
    JobScheduler scheduler(2);
    const JobHandle parent = scheduler.Schedule(Describe(nullptr, [&](Job&, Flag canceled) {
        started.Open();
        canceled.wait(false);
        childHandle = scheduler.Schedule(Describe(&child));
        JobDescription free = Describe(&detached);
        free.detached = true;
        detachedHandle = scheduler.Schedule(std::move(free));
    }));
    started.Pass();
    scheduler.Cancel(ECancelMode::Chain, parent);
    scheduler.Wait(parent);
    EXPECT_FALSE(childHandle.IsValid());
    EXPECT_EQ(child.Get(), kCanceled);
    EXPECT_FALSE(child.ran);
    ASSERT_TRUE(detachedHandle.IsValid());
    EXPECT_NE(detachedHandle.chain, parent.chain);
    scheduler.Wait(detachedHandle);
    EXPECT_EQ(detached.Get(), kCompleted);
}

TEST(JobScheduler, WaitingRunsThePendingJobInlineOnTheTestThreadOrAWorker)
{
    // No worker could run the job: there are none, or the only one is blocked.
    for (uint32_t threads : {0u, 1u}) {
        std::thread::id ranOn;
        Job* current = nullptr;
        JobScheduler scheduler(threads);
        std::optional<BlockedWorker> blocker;
        if (threads > 0)
            blocker.emplace(scheduler);
        const JobHandle handle = scheduler.Schedule(Describe(nullptr, [&](Job& job, Flag) {
            ranOn = std::this_thread::get_id();
            current = JobScheduler::GetCurrentJob();
            EXPECT_EQ(current, &job);
        }));
        EXPECT_EQ(JobScheduler::GetCurrentJob(), nullptr);
        scheduler.Wait(handle);
        EXPECT_EQ(ranOn, std::this_thread::get_id());
        EXPECT_NE(current, nullptr);
        EXPECT_EQ(JobScheduler::GetCurrentJob(), nullptr);
    }

    // A worker waiting on its own child runs it.
    Record child;
    Job* outerJob = nullptr;
    Job* afterWait = nullptr;
    JobScheduler scheduler(1);
    scheduler.Wait(scheduler.Schedule(Describe(nullptr, [&](Job& job, Flag) {
        outerJob = &job;
        scheduler.Wait(scheduler.Schedule(Describe(&child)));
        afterWait = JobScheduler::GetCurrentJob();
    })));
    EXPECT_EQ(child.Get(), kCompleted);
    EXPECT_EQ(afterWait, outerJob); // restored after the inline run
}

TEST(JobScheduler, AWaitingWorkerKeepsRunningOtherJobs)
{
    // The only worker runs `outer`, which waits for a job of group 5. Group 5 is held by
    // `holder`, running inline on a helper thread until `unrelated` has run. Only the waiting
    // worker can run `unrelated`: if it just slept, this would hang.
    Gate outerStarted, go, holderStarted, unrelatedRan;
    std::thread::id workerThread, unrelatedThread;
    JobScheduler scheduler(1);
    const JobHandle outer = scheduler.Schedule(Describe(nullptr, [&](Job&, Flag) {
        workerThread = std::this_thread::get_id();
        outerStarted.Open();
        go.Pass();
        scheduler.Wait(scheduler.Schedule(Describe(nullptr, {}, 5)));
    }));
    outerStarted.Pass();
    const JobHandle holder = scheduler.Schedule(Describe(
        nullptr,
        [&](Job&, Flag) {
            holderStarted.Open();
            unrelatedRan.Pass();
        },
        5));
    std::thread helper([&] { scheduler.Wait(holder); });
    holderStarted.Pass();
    const JobHandle unrelated = scheduler.Schedule(Describe(nullptr, [&](Job&, Flag) {
        unrelatedThread = std::this_thread::get_id();
        unrelatedRan.Open();
    }));
    go.Open();
    scheduler.Wait(outer); // not `unrelated`: this thread would run it
    helper.join();
    scheduler.Wait(unrelated);
    EXPECT_EQ(unrelatedThread, workerThread);
}

TEST(JobScheduler, ShutdownFinalizesQueuedJobsAsCanceledAndCancelsRunningOnes)
{
    Record running, queued1, queued2;
    JobHandle late{0, 0, 0, 0};
    Gate started;
    {
        JobScheduler scheduler(1);
        scheduler.Schedule(Describe(&running, [&](Job&, Flag canceled) {
            started.Open();
            canceled.wait(false);
            JobDescription description = Describe(nullptr);
            description.detached = true;
            late = scheduler.Schedule(std::move(description)); // refused: shutting down
        }));
        started.Pass();
        scheduler.Schedule(Describe(&queued1));
        scheduler.Schedule(Describe(&queued2, {}, 4));
    }
    EXPECT_EQ(running.Get(), kCanceled);
    EXPECT_FALSE(late.IsValid());
    EXPECT_FALSE(queued1.ran || queued2.ran);
    EXPECT_EQ(queued1.Get(), kCanceled);
    EXPECT_EQ(queued2.Get(), kCanceled);
}

TEST(JobScheduler, StressEveryJobIsFinalizedExactlyOnce)
{
    // Scheduling, nested scheduling, cancels and waits from several threads at once; meant for
    // the thread sanitizer as much as for the assertions.
    constexpr int kThreads = 3, kJobsPerThread = 150;
    std::vector<Record> records(kThreads * kJobsPerThread * 2); // [2i] a job, [2i+1] its child
    {
        JobScheduler scheduler(3);
        std::latch ready(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ready.arrive_and_wait();
                Handles handles;
                uint32_t seed = 12345u + static_cast<uint32_t>(t);
                const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
                for (int i = 0; i < kJobsPerThread; ++i) {
                    Record* record = &records[static_cast<std::size_t>((t * kJobsPerThread + i) * 2)];
                    JobDescription description = Describe(
                        record,
                        [&scheduler, record](Job&, Flag) { scheduler.Schedule(Describe(record + 1)); },
                        static_cast<int>(next() % 4) - 1, next() % 5);
                    description.priority = static_cast<uint8_t>(next() % 3);
                    handles.push_back(scheduler.Schedule(std::move(description)));
                    if (const uint32_t action = next() % 10; action == 0)
                        scheduler.Cancel(ECancelMode::Tag, handles.back());
                    else if (action == 1)
                        scheduler.CancelAndWait(ECancelMode::Group, handles[next() % handles.size()]);
                    else if (action == 2)
                        scheduler.Wait(handles[next() % handles.size()]);
                }
                scheduler.Wait(handles);
            });
        for (std::thread& thread : threads)
            thread.join();
    } // children still queued are finalized here
    for (std::size_t i = 0; i < records.size(); ++i) {
        const States states = records[i].Get();
        if (states.empty())
            EXPECT_EQ(i % 2, 1u) << "only a child whose parent never ran is never scheduled";
        else if (states.back() == State::Completed)
            EXPECT_TRUE(states.size() == 1 && records[i].ran);
        else
            EXPECT_EQ(states, kCanceled);
    }
}

} // namespace
