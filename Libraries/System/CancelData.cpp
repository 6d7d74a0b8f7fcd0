#include "System/CancelData.h"

namespace System {

void CancelData::AddRunningJob()
{
    std::lock_guard lock(mMutex);
    ++mRunningJobs;
}

void CancelData::JobReturned()
{
    {
        std::lock_guard lock(mMutex);
        --mRunningJobs;
    }
    mReturned.notify_all();
}

void CancelData::WaitForReturns()
{
    std::unique_lock lock(mMutex);
    mReturned.wait(lock, [this] { return mRunningJobs == 0; });
}

} // namespace System
