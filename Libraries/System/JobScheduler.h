#pragma once

#include "System/Job.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace System {

/// Which jobs a cancel reaches: those sharing the key's chain, group or tag.
enum class ECancelMode : uint8_t { Chain = 0, Group = 1, Tag = 2 };

/// A fixed pool of worker threads ("Job Scheduler N") taking jobs from one priority queue.
/// Work and finalization functions run without the scheduler's lock and may schedule, cancel
/// and wait. A finalization called with CancelRequested must not wait for its own job, and a
/// job must not wait for a pending job of its own group (the group is busy with the waiter).
class JobScheduler {
public:
    explicit JobScheduler(uint32_t threadCount);
    /// Stops the workers and joins them. Jobs still queued are finalized as canceled without
    /// running; running jobs are asked to cancel and finalized when their work returns. No
    /// other thread may use the scheduler any more.
    ~JobScheduler();
    JobScheduler(const JobScheduler&) = delete;
    JobScheduler& operator=(const JobScheduler&) = delete;

    /// Schedules `job` (built by the caller from the description; a plain Job running
    /// `description.work` when null, and a job without a work function gets that one). Returns the invalid
    /// handle when the scheduling thread's current job is being canceled and the description is not detached,
    /// or when the scheduler is shutting down; the job is then finalized with CancelRequested and Canceled
    /// without running.
    JobHandle Schedule(JobDescription description, std::unique_ptr<Job> job = nullptr);

    /// Cancels every unfinished job whose handle matches `key` in `mode`.
    void Cancel(ECancelMode mode, const JobHandle& key);
    /// As Cancel, then waits until every matching running job has returned from its work
    /// (also those that an earlier Cancel reached). Jobs that the calling thread itself is
    /// running are not waited for.
    void CancelAndWait(ECancelMode mode, const JobHandle& key);

    /// Returns when every listed job has finished (or the scheduler is shutting down). Runs a
    /// listed pending job inline when its group is free; a waiting worker thread keeps running
    /// other jobs meanwhile. Invalid handles are ignored.
    void Wait(std::span<const JobHandle> handles);
    void Wait(const JobHandle& handle) { Wait(std::span<const JobHandle>(&handle, 1)); }

    /// The job that the calling thread is running, or null.
    static Job* GetCurrentJob();

    uint32_t GetThreadCount() const;

private:
    using Lock = std::unique_lock<std::mutex>;

    void WorkerLoop(uint32_t index);
    /// Takes the first pending job that satisfies `accept` and whose group is free, marks its
    /// group running and returns it; null when there is none.
    template <class Accept> Job* TakeFirstRunnable(Accept&& accept);
    /// Runs a job taken from the queue through its finalization and destroys it. `lock` is
    /// held on entry and on return, released meanwhile.
    void RunJob(Job* job, Lock& lock);
    void CancelJobs(bool everything, ECancelMode mode, const JobHandle& key,
                    const std::shared_ptr<CancelData>& waiter);
    JobHandle MakeHandle(const JobDescription& description, const Job* parent);

    std::mutex mMutex;
    std::condition_variable mWorkAvailable;
    std::condition_variable mJobFinished;
    std::vector<Job*> mPending; ///< by priority, first come first among equals; owned by mJobs
    std::unordered_map<uint32_t, std::unique_ptr<Job>> mJobs; ///< every unfinished job by serial
    std::unordered_set<uint32_t> mRunningGroups;
    bool mStop = false;
    uint32_t mSerialCounter = 0;
    uint32_t mGroupCounter;
    uint32_t mChainCounter = 0;
    uint32_t mWaitingWorkers = 0; ///< workers blocked in Wait, woken for new work too
    std::vector<std::thread> mThreads;
};

} // namespace System
