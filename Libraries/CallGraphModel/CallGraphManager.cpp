#include "CallGraphModel/CallGraphManager.h"

#include "System/Platform/Thread.h"

namespace Profiler {

CallGraphManager::CallGraphManager(QObject* parent) : QObject(parent)
{
    mWorker = std::thread([this] { WorkerLoop(); });
}

CallGraphManager::~CallGraphManager()
{
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    mCondition.notify_all();
    if (mWorker.joinable())
        mWorker.join();
}

void CallGraphManager::QueueForDestruction(CallGraph* graph)
{
    if (graph == nullptr)
        return;
    {
        std::lock_guard lock(mMutex);
        mQueue.push_back(graph);
    }
    mCondition.notify_one();
    mLiveCount.fetch_sub(1, std::memory_order_relaxed);
}

std::shared_ptr<const CallGraph> CallGraphManager::Adopt(std::shared_ptr<const CallGraph> graph)
{
    if (graph == nullptr)
        return nullptr;
    const CallGraph* raw = graph.get();
    mLiveCount.fetch_add(1, std::memory_order_relaxed);
    return std::shared_ptr<const CallGraph>(raw, [this, held = std::move(graph)](const CallGraph*) mutable {
        {
            std::lock_guard lock(mMutex);
            mReleaseQueue.push_back(std::move(held));
        }
        mCondition.notify_one();
        mLiveCount.fetch_sub(1, std::memory_order_relaxed);
    });
}

void CallGraphManager::WorkerLoop()
{
    System::Platform::SetCurrentThreadName("CallGraph Destroy");
    std::vector<CallGraph*> batch;
    std::vector<std::shared_ptr<const CallGraph>> releases;
    for (;;) {
        {
            std::unique_lock lock(mMutex);
            mCondition.wait(lock, [this] { return !mQueue.empty() || !mReleaseQueue.empty() || mStop; });
            if (mStop)
                break;
            batch.swap(mQueue);
            releases.swap(mReleaseQueue);
        }
        // Destruction runs outside the lock so that queuing never waits for it.
        for (CallGraph* graph : batch)
            delete graph;
        batch.clear();
        releases.clear();
    }
    std::lock_guard lock(mMutex);
    for (CallGraph* graph : mQueue)
        delete graph;
    mQueue.clear();
    mReleaseQueue.clear();
}

} // namespace Profiler
