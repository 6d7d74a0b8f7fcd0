#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace System {

class Job;
class JobScheduler;
class CancelData;

/// How a job ended, as told to its finalization function: CancelRequested may come first
/// (the job is still queued or running), then exactly one of Canceled or Completed.
enum class EJobFinalizationState : uint8_t {
    CancelRequested = 0,
    Canceled = 1,
    Completed = 2,
};

/// Identifies a scheduled job. All ones is the invalid handle.
struct JobHandle {
    uint32_t serial = ~0u; ///< unique per scheduled job
    uint32_t group = ~0u;  ///< jobs of one group never run at the same time
    uint32_t chain = ~0u;  ///< jobs scheduled from inside a job share its chain
    uint32_t tag = ~0u;    ///< copied from the description

    bool IsValid() const { return serial != ~0u; }
    friend bool operator==(const JobHandle&, const JobHandle&) = default;
};

/// The work function polls the cancel flag and returns early when it is set; nothing
/// interrupts it. The flag is atomic because a canceler on another thread sets it while the
/// work reads it; a plain bool would be a data race (and a thread sanitizer report). Work may
/// also block in `canceled.wait(false)`: setting the flag notifies it.
using JobWorkFunction = std::function<void(Job& job, const std::atomic<bool>& canceled)>;
using JobFinalizationFunction = std::function<void(EJobFinalizationState state, Job& job)>;

struct JobDescription {
    JobWorkFunction work;
    int groupId = -1; ///< -1: a new group of its own
    uint32_t tag = 0;
    uint8_t priority = 1; ///< smaller runs first; FIFO among equals
    JobFinalizationFunction finalization;
    /// A detached job starts a chain of its own and is scheduled even when the scheduling
    /// thread's current job is being canceled.
    bool detached = false;
};

/// A unit of background work. Subclasses add their results; the finalization function hands
/// them over before the scheduler destroys the job.
class Job {
public:
    explicit Job(JobWorkFunction work) : mWork(std::move(work)) {}
    virtual ~Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    const JobHandle& GetHandle() const { return mHandle; }
    uint8_t GetPriority() const { return mPriority; }
    bool IsCancelRequested() const { return mCanceled.load(std::memory_order_acquire); }

private:
    friend class JobScheduler;

    JobWorkFunction mWork;
    std::atomic<bool> mCanceled{false};
    bool mAlive = true; ///< cleared under the scheduler mutex when the work function returns
    /// Synchronous cancelers waiting for the work function to return. Several may wait on the
    /// same job: one that canceled it, and later ones that found it already canceled.
    std::vector<std::shared_ptr<CancelData>> mCancelNotifications;
    JobFinalizationFunction mFinalization;
    JobHandle mHandle;
    uint8_t mPriority = 1;

    // Bookkeeping of the scheduler, guarded by its mutex.
    JobScheduler* mScheduler = nullptr; ///< not owned; the scheduler that holds the job
    bool mQueued = false;               ///< in the pending queue
    std::thread::id mRunner;            ///< the thread running the work function
    /// Cancel-requested finalization calls in progress on canceling threads; the job is not
    /// finalized further (nor destroyed) before they are done.
    int mCancelCallsInFlight = 0;
};

} // namespace System
