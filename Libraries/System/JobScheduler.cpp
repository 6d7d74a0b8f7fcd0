#include "System/JobScheduler.h"

#include "System/CancelData.h"
#include "System/Platform/Thread.h"
#include "Utility/Assert.h"
#include "Utility/Format.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace System {
namespace {

thread_local Job* tCurrentJob = nullptr;
thread_local const JobScheduler* tWorkerOf = nullptr;

// Group ids that descriptions name are non-negative ints; fresh groups count from 2^31 so that
// they can never collide with one.
constexpr uint32_t kFirstFreshGroup = 0x80000000u;
constexpr uint32_t kInvalidId = ~0u;

uint32_t NextId(uint32_t& counter, uint32_t restart)
{
    if (++counter == kInvalidId)
        counter = restart;
    return counter;
}

bool Matches(ECancelMode mode, const JobHandle& key, const JobHandle& handle)
{
    switch (mode) {
    case ECancelMode::Chain:
        return handle.chain == key.chain;
    case ECancelMode::Group:
        return handle.group == key.group;
    case ECancelMode::Tag:
        return handle.tag == key.tag;
    }
    return false;
}

// Jobs are user code: an exception must not take a worker thread (and the process) down or
// leave the scheduler's bookkeeping half done.
template <class Call> void CallGuarded(const char* what, Call&& call)
{
    try {
        call();
    } catch (const std::exception& exception) {
        QX_FAIL("A job's %s threw an exception: %s", what, exception.what());
    } catch (...) {
        QX_FAIL("A job's %s threw an exception", what);
    }
}

void Finalize(Job& job, const JobFinalizationFunction& finalization, EJobFinalizationState state)
{
    if (finalization)
        CallGuarded("finalization", [&] { finalization(state, job); });
}

} // namespace

JobScheduler::JobScheduler(uint32_t threadCount) : mGroupCounter(kFirstFreshGroup - 1)
{
    mThreads.reserve(threadCount);
    for (uint32_t i = 0; i < threadCount; ++i) {
        try {
            mThreads.emplace_back([this, i] { WorkerLoop(i); });
        } catch (const std::system_error& error) {
            QX_FAIL("Could not start job scheduler thread %u: %s", i + 1, error.what());
            break;
        }
    }
}

JobScheduler::~JobScheduler()
{
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWorkAvailable.notify_all();
    mJobFinished.notify_all();
    // Jobs still queued never run: they are finalized as canceled (CancelRequested, then
    // Canceled). Running jobs are asked to cancel so that joining does not wait for long work;
    // their workers finalize them before leaving. Nothing can be queued after the stop flag.
    CancelJobs(true, ECancelMode::Chain, JobHandle{}, nullptr);
    for (std::thread& thread : mThreads)
        thread.join();
}

uint32_t JobScheduler::GetThreadCount() const
{
    return static_cast<uint32_t>(mThreads.size());
}

Job* JobScheduler::GetCurrentJob()
{
    return tCurrentJob;
}

JobHandle JobScheduler::MakeHandle(const JobDescription& description, const Job* parent)
{
    JobHandle handle;
    do
        handle.serial = NextId(mSerialCounter, 0);
    while (mJobs.contains(handle.serial));
    // Any negative group id asks for a group of its own, not only -1.
    handle.group = description.groupId >= 0 ? static_cast<uint32_t>(description.groupId)
                                            : NextId(mGroupCounter, kFirstFreshGroup);
    handle.chain = parent ? parent->mHandle.chain : NextId(mChainCounter, 0);
    handle.tag = description.tag;
    return handle;
}

JobHandle JobScheduler::Schedule(JobDescription description, std::unique_ptr<Job> job)
{
    if (!job)
        job = std::make_unique<Job>(std::move(description.work));
    else if (!job->mWork)
        job->mWork = std::move(description.work);
    job->mFinalization = std::move(description.finalization);
    job->mPriority = description.priority;
    job->mScheduler = this;

    const Job* parent = description.detached ? nullptr : tCurrentJob;
    if (parent && parent->mScheduler != this)
        parent = nullptr; // a job of another scheduler does not chain into this one
    {
        // The parent's flag is read under the lock that Cancel sets it under: either the cancel
        // came first and the child is refused, or the child is queued first and the cancel of
        // the chain reaches it.
        std::lock_guard lock(mMutex);
        if (!mStop && !(parent && parent->mCanceled.load(std::memory_order_relaxed))) {
            const JobHandle handle = MakeHandle(description, parent);
            Job* queued = job.get();
            queued->mHandle = handle;
            queued->mQueued = true;
            const auto at = std::upper_bound(
                mPending.begin(), mPending.end(), queued->mPriority,
                [](uint8_t priority, const Job* other) { return priority < other->mPriority; });
            mPending.insert(at, queued);
            mJobs.emplace(handle.serial, std::move(job));
            mWorkAvailable.notify_one();
            if (mWaitingWorkers > 0)
                mJobFinished.notify_all();
            return handle;
        }
    }
    job->mCanceled.store(true, std::memory_order_release);
    Finalize(*job, job->mFinalization, EJobFinalizationState::CancelRequested);
    Finalize(*job, job->mFinalization, EJobFinalizationState::Canceled);
    return {};
}

template <class Accept> Job* JobScheduler::TakeFirstRunnable(Accept&& accept)
{
    for (auto it = mPending.begin(); it != mPending.end(); ++it) {
        Job* job = *it;
        if (!accept(job) || mRunningGroups.contains(job->mHandle.group))
            continue;
        mPending.erase(it);
        mRunningGroups.insert(job->mHandle.group);
        job->mQueued = false;
        job->mRunner = std::this_thread::get_id();
        return job;
    }
    return nullptr;
}

void JobScheduler::RunJob(Job* job, Lock& lock)
{
    lock.unlock();
    Job* const previous = tCurrentJob;
    tCurrentJob = job;
    if (job->mWork)
        CallGuarded("work function", [&] { job->mWork(*job, job->mCanceled); });
    tCurrentJob = previous;

    lock.lock();
    job->mAlive = false; // from here on the cancel flag cannot change
    std::vector<std::shared_ptr<CancelData>> waiters = std::move(job->mCancelNotifications);
    job->mCancelNotifications.clear();
    lock.unlock();
    for (const std::shared_ptr<CancelData>& waiter : waiters)
        waiter->JobReturned();

    lock.lock();
    // A canceler may still be telling the finalization that cancel was requested; Canceled
    // must come after that call, and the job must outlive it.
    mJobFinished.wait(lock, [job] { return job->mCancelCallsInFlight == 0; });
    const bool canceled = job->mCanceled.load(std::memory_order_relaxed);
    lock.unlock();
    Finalize(*job, job->mFinalization,
             canceled ? EJobFinalizationState::Canceled : EJobFinalizationState::Completed);

    lock.lock();
    const auto entry = mJobs.find(job->mHandle.serial);
    std::unique_ptr<Job> finished = std::move(entry->second);
    mJobs.erase(entry);
    mRunningGroups.erase(job->mHandle.group);
    // The freed group may hold back a queued job that an idle worker can take now.
    if (!mPending.empty())
        mWorkAvailable.notify_one();
    lock.unlock();
    // Destroyed outside the lock: a job's destructor may use the scheduler.
    finished.reset();
    mJobFinished.notify_all();
    lock.lock();
}

void JobScheduler::WorkerLoop(uint32_t index)
{
    tWorkerOf = this;
    Platform::OnWorkerThreadStart();
    Platform::SetCurrentThreadName(Utility::Format("Job Scheduler %u", index + 1));

    Lock lock(mMutex);
    while (!mStop) {
        if (Job* job = TakeFirstRunnable([](const Job*) { return true; }))
            RunJob(job, lock);
        else
            mWorkAvailable.wait(lock);
    }
    lock.unlock();
    Platform::OnWorkerThreadStop();
    tWorkerOf = nullptr;
}

void JobScheduler::Cancel(ECancelMode mode, const JobHandle& key)
{
    CancelJobs(false, mode, key, nullptr);
}

void JobScheduler::CancelAndWait(ECancelMode mode, const JobHandle& key)
{
    const auto waiter = std::make_shared<CancelData>();
    CancelJobs(false, mode, key, waiter);
    waiter->WaitForReturns();
}

void JobScheduler::CancelJobs(bool everything, ECancelMode mode, const JobHandle& key,
                              const std::shared_ptr<CancelData>& waiter)
{
    std::vector<Job*> requested; // running jobs now told CancelRequested by this thread
    std::vector<Job*> removed;   // queued jobs that will never run
    {
        std::lock_guard lock(mMutex);
        const std::thread::id self = std::this_thread::get_id();
        for (const auto& [serial, owned] : mJobs) {
            Job* job = owned.get();
            if (!job->mAlive || !(everything || Matches(mode, key, job->mHandle)))
                continue;
            if (job->mQueued) {
                job->mCanceled.store(true, std::memory_order_release);
                job->mQueued = false;
                job->mAlive = false; // it never runs: later cancels must not wait for it
                removed.push_back(job);
                continue;
            }
            if (!job->mCanceled.load(std::memory_order_relaxed)) {
                job->mCanceled.store(true, std::memory_order_release);
                job->mCanceled.notify_all(); // for work functions blocked in wait() on the flag
                if (job->mFinalization) {
                    ++job->mCancelCallsInFlight;
                    requested.push_back(job);
                }
            }
            // Waiting for a job that this very thread runs (further up its stack) would never end.
            if (waiter && job->mRunner != self) {
                waiter->AddRunningJob();
                job->mCancelNotifications.push_back(waiter);
            }
        }
        if (!removed.empty())
            std::erase_if(mPending,
                          [](const Job* job) { return job->mCanceled.load(std::memory_order_relaxed); });
    }

    for (Job* job : requested) {
        Finalize(*job, job->mFinalization, EJobFinalizationState::CancelRequested);
        {
            std::lock_guard lock(mMutex);
            --job->mCancelCallsInFlight;
        }
        mJobFinished.notify_all();
    }
    for (Job* job : removed) {
        Finalize(*job, job->mFinalization, EJobFinalizationState::CancelRequested);
        Finalize(*job, job->mFinalization, EJobFinalizationState::Canceled);
        std::unique_ptr<Job> finished;
        {
            std::lock_guard lock(mMutex);
            const auto entry = mJobs.find(job->mHandle.serial);
            finished = std::move(entry->second);
            mJobs.erase(entry);
        }
        finished.reset();
        mJobFinished.notify_all();
    }
}

void JobScheduler::Wait(std::span<const JobHandle> handles)
{
    std::vector<uint32_t> serials;
    for (const JobHandle& handle : handles)
        if (handle.IsValid())
            serials.push_back(handle.serial);
    const auto listed = [&serials](const Job* job) {
        return std::find(serials.begin(), serials.end(), job->mHandle.serial) != serials.end();
    };

    Lock lock(mMutex);
    const bool isWorker = tWorkerOf == this;
    for (;;) {
        if (mStop)
            return;
        std::erase_if(serials, [this](uint32_t serial) { return !mJobs.contains(serial); });
        if (serials.empty())
            return;
        Job* job = TakeFirstRunnable(listed);
        // A worker that only waited would be lost to the pool (and with one thread, deadlock it).
        if (!job && isWorker)
            job = TakeFirstRunnable([](const Job*) { return true; });
        if (job) {
            RunJob(job, lock);
            continue;
        }
        if (isWorker)
            ++mWaitingWorkers;
        mJobFinished.wait(lock);
        if (isWorker)
            --mWaitingWorkers;
    }
}

} // namespace System
