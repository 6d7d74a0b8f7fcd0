#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace Profiler {

/// Where a job leaves its result for the UI thread. Each request renews the mailbox; a result
/// posted for an older request is dropped on the job's thread at once, and closing the mailbox
/// drops a result that nobody will take. Results thus never wait in a queued call that might
/// outlive the objects their destruction needs (the call graph manager).
template <class T> class ResultMailbox {
public:
    /// Starts a new request; the result of any older one is dropped. Returns its generation.
    uint64_t Renew()
    {
        std::unique_ptr<T> dropped;
        std::lock_guard lock(mMutex);
        dropped = std::move(mPending);
        return ++mGeneration;
    }
    /// Leaves the result of request `generation`; kept only if that request is still current.
    void Post(uint64_t generation, std::unique_ptr<T> result)
    {
        std::unique_ptr<T> dropped;
        std::lock_guard lock(mMutex);
        if (generation == mGeneration)
            mPending = std::move(result);
        else
            dropped = std::move(result);
    }
    /// The result of request `generation` if it is current and has one; null otherwise.
    std::unique_ptr<T> Take(uint64_t generation)
    {
        std::lock_guard lock(mMutex);
        return generation == mGeneration ? std::move(mPending) : nullptr;
    }
    bool IsCurrent(uint64_t generation) const
    {
        std::lock_guard lock(mMutex);
        return generation == mGeneration;
    }

private:
    mutable std::mutex mMutex;
    uint64_t mGeneration = 0;
    std::unique_ptr<T> mPending;
};

} // namespace Profiler
