#pragma once

#include "CallGraphModel/CallGraph.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Profiler {

/// Destroys released call graphs on its own thread ("CallGraph Destroy"), so that whoever drops
/// the last reference to a graph of millions of nodes never pays for its destruction. Graphs are
/// handed out as shared pointers whose deleter queues them here; the manager must outlive them.
class CallGraphManager : public QObject {
    Q_OBJECT

public:
    explicit CallGraphManager(QObject* parent = nullptr);
    /// Stops the thread after it has destroyed every graph queued so far.
    ~CallGraphManager() override;

    /// Takes ownership of `graph` (null is ignored) and queues it for destruction. This is the
    /// deleter of every shared graph; it counts the graph as returned.
    void QueueForDestruction(CallGraph* graph);

    /// Wraps a new graph in a shared pointer whose deleter is QueueForDestruction.
    template <class T> std::shared_ptr<T> Share(std::unique_ptr<T> graph)
    {
        if (graph == nullptr)
            return nullptr;
        mLiveCount.fetch_add(1, std::memory_order_relaxed);
        return std::shared_ptr<T>(graph.release(), [this](T* released) { QueueForDestruction(released); });
    }

    /// Hands out a graph that someone else made (a query's answer) so that dropping its last
    /// reference releases it on the manager's thread as well.
    std::shared_ptr<const CallGraph> Adopt(std::shared_ptr<const CallGraph> graph);

    /// Graphs handed out and not yet returned.
    int32_t GetLiveCount() const { return mLiveCount.load(std::memory_order_relaxed); }

signals:
    // Declared for connections that want to see graphs go; the manager itself never emits it.
    void DestroyCallGraph(Profiler::CallGraph* inCallGraph);

private:
    void WorkerLoop();

    std::thread mWorker;
    std::mutex mMutex;
    std::condition_variable mCondition;
    std::vector<CallGraph*> mQueue; ///< owned
    std::vector<std::shared_ptr<const CallGraph>> mReleaseQueue;
    bool mStop = false;
    std::atomic<int32_t> mLiveCount{0};
};

} // namespace Profiler
