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
/// (Interface agreed between the engine and the scheduler; the implementation may add private
/// members but keeps these public operations.)
class JobScheduler {
public:
    explicit JobScheduler(uint32_t threadCount);
    /// Stops the workers and joins them; jobs still queued are finalized as canceled.
    ~JobScheduler();
    JobScheduler(const JobScheduler&) = delete;
    JobScheduler& operator=(const JobScheduler&) = delete;

    /// Schedules `job` (built by the caller from the description; a plain Job running
    /// `description.work` when null). Returns the invalid handle when the scheduling thread's
    /// current job is being canceled and the description is not detached; the job is then
    /// finalized with CancelRequested and Canceled without running.
    JobHandle Schedule(JobDescription description, std::unique_ptr<Job> job = nullptr);

    /// Cancels every unfinished job whose handle matches `key` in `mode`.
    void Cancel(ECancelMode mode, const JobHandle& key);
    /// As Cancel, then waits until every canceled running job has returned from its work.
    void CancelAndWait(ECancelMode mode, const JobHandle& key);

    /// Returns when every listed job has finished. Runs a listed pending job inline when its
    /// group is free; a waiting worker thread keeps running other jobs meanwhile.
    void Wait(std::span<const JobHandle> handles);
    void Wait(const JobHandle& handle) { Wait(std::span<const JobHandle>(&handle, 1)); }

    /// The job that the calling thread is running, or null.
    static Job* GetCurrentJob();

    uint32_t GetThreadCount() const;
};

} // namespace System
