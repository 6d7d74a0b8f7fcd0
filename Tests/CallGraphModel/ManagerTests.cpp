#include "CallGraphModel/CallGraphManager.h"

#include <gtest/gtest.h>

#include <latch>
#include <pthread.h>
#include <string>
#include <thread>

using namespace Profiler;

namespace {

/// A graph that reports its destruction and can hold the destroying thread until released.
class ProbeGraph final : public CallGraph {
public:
    struct Probe {
        std::latch destroyed{1};
        std::latch* entered = nullptr; // not owned
        std::latch* proceed = nullptr; // not owned
        std::string threadName;
    };

    explicit ProbeGraph(Probe& probe) : mProbe(probe) {}
    ~ProbeGraph() override
    {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        mProbe.threadName = name;
        if (mProbe.entered)
            mProbe.entered->count_down();
        if (mProbe.proceed)
            mProbe.proceed->wait();
        mProbe.destroyed.count_down();
    }

private:
    Probe& mProbe;
};

} // namespace

TEST(CallGraphManager, SharedGraphsAreDestroyedOnTheManagerThread)
{
    CallGraphManager manager;
    ProbeGraph::Probe probe;
    {
        std::shared_ptr<ProbeGraph> graph = manager.Share(std::make_unique<ProbeGraph>(probe));
        std::shared_ptr<ProbeGraph> copy = graph;
        EXPECT_EQ(manager.GetLiveCount(), 1);
    }
    probe.destroyed.wait();
    EXPECT_EQ(probe.threadName, "CallGraph Destr"); // Linux keeps 15 characters
    EXPECT_EQ(manager.GetLiveCount(), 0);
    EXPECT_EQ(manager.Share(std::unique_ptr<CallGraph>()), nullptr);
    EXPECT_EQ(manager.GetLiveCount(), 0);
}

TEST(CallGraphManager, GraphReleasedDuringABatchGoesInTheNextOne)
{
    CallGraphManager manager;
    std::latch entered(1);
    std::latch proceed(1);
    ProbeGraph::Probe first;
    first.entered = &entered;
    first.proceed = &proceed;
    ProbeGraph::Probe second;

    manager.QueueForDestruction(new ProbeGraph(first));
    entered.wait(); // the worker is inside the first batch
    std::shared_ptr<ProbeGraph> graph = manager.Share(std::make_unique<ProbeGraph>(second));
    graph.reset(); // queuing does not wait for the busy worker
    EXPECT_FALSE(second.destroyed.try_wait());
    proceed.count_down();
    second.destroyed.wait();
    EXPECT_TRUE(first.destroyed.try_wait());
}

TEST(CallGraphManager, DestructorDestroysQueuedGraphs)
{
    std::latch entered(1);
    std::latch proceed(1);
    ProbeGraph::Probe blocker;
    blocker.entered = &entered;
    blocker.proceed = &proceed;
    ProbeGraph::Probe queued[3];
    {
        CallGraphManager manager;
        manager.QueueForDestruction(new ProbeGraph(blocker));
        entered.wait();
        for (ProbeGraph::Probe& probe : queued)
            manager.QueueForDestruction(new ProbeGraph(probe));
        proceed.count_down();
    }
    for (ProbeGraph::Probe& probe : queued)
        EXPECT_TRUE(probe.destroyed.try_wait());
}

TEST(CallGraphManager, ManyThreadsShareAndRelease)
{
    CallGraphManager manager;
    constexpr int kThreads = 4;
    constexpr int kGraphsPerThread = 200;
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int i = 0; i < kGraphsPerThread; ++i) {
                auto graph = manager.Share(std::make_unique<CallGraph>());
                graph->GetRoot().AddChild({static_cast<uint64_t>(i), 1}, 0)->StateTimes[1] = 1.0;
                auto copy = graph;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(manager.GetLiveCount(), 0);
}
