#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace System {

/// Shared between a synchronous canceler and the running jobs it canceled: counts the jobs
/// whose work function has not returned yet, so that the canceler can wait for them.
class CancelData {
public:
    /// Counts one more running job to wait for.
    void AddRunningJob();
    /// Called by the thread that ran a counted job once its work function has returned.
    void JobReturned();
    /// Returns when every counted job has returned.
    void WaitForReturns();

private:
    std::mutex mMutex;
    std::condition_variable mReturned;
    uint32_t mRunningJobs = 0;
};

} // namespace System
