#include "CallGraphText.h"

#include "CallGraphModel/BuildButterflyJob.h"
#include "CallGraphModel/BuildListJob.h"
#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionTimingJob.h"
#include "CallGraphModel/IAddressLineMap.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <latch>
#include <mutex>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

/// Names from the fixture's table; optionally holds the first lookup until released.
class FakeFunctionInfo final : public IFunctionInfoProvider {
public:
    explicit FakeFunctionInfo(const FunctionNames& names) : mNames(names) {}
    std::string GetFunctionName(const ResolvedAddress& function) const override
    {
        if (mEntered != nullptr && !mHeld.exchange(true)) {
            mEntered->count_down();
            mProceed->wait();
        }
        return mNames.GetName(function);
    }
    std::string GetModuleName(const ResolvedAddress& function) const override
    {
        return "module" + std::to_string(function.GetModuleIndex());
    }
    void HoldFirstLookup(std::latch& entered, std::latch& proceed)
    {
        mEntered = &entered;
        mProceed = &proceed;
    }

private:
    const FunctionNames& mNames;
    std::latch* mEntered = nullptr; // not owned
    std::latch* mProceed = nullptr; // not owned
    mutable std::atomic<bool> mHeld{false};
};

/// Collects one completion call and lets the test wait for it.
template <class T> struct Completion {
    std::latch done{1};
    std::unique_ptr<T> result;
    int calls = 0;

    std::function<void(std::unique_ptr<T>)> Callback()
    {
        return [this](std::unique_ptr<T> value) {
            result = std::move(value);
            ++calls;
            done.count_down();
        };
    }
};

/// Keeps the only worker of a one-thread scheduler busy until released.
struct Blocker {
    std::latch running{1};
    std::latch release{1};

    void Start(System::JobScheduler& scheduler)
    {
        System::JobDescription description;
        description.work = [this](System::Job&, const std::atomic<bool>&) {
            running.count_down();
            release.wait();
        };
        scheduler.Schedule(std::move(description));
        running.wait();
    }
};

struct JobFixture : testing::Test {
    FunctionNames names;
    std::shared_ptr<CallGraph> graph = std::make_shared<CallGraph>();
    FunctionQuery query;

    JobFixture()
    {
        AddStacks(graph->GetRoot(), R"(
            main;a;f@0x2000 2 samples=0x10:1
            main;b;f@0x2005 3
            main;f;c@0x3005 1
        )",
                  names);
        query.Graph = graph;
    }
};

} // namespace

TEST_F(JobFixture, ListJobDeliversSortedNamedItemsUnlessCanceledWhileQueuedOrRunning)
{
    System::JobScheduler scheduler(1);
    auto functions = std::make_shared<FakeFunctionInfo>(names);

    Blocker blocker;
    blocker.Start(scheduler);
    Completion<BuildListData> queued;
    const System::JobHandle handle = BuildListJob::Start(scheduler, query, functions, queued.Callback());
    scheduler.Cancel(System::ECancelMode::Chain, handle);
    blocker.release.count_down();
    queued.done.wait();
    EXPECT_EQ(queued.result, nullptr);

    std::latch entered(1);
    std::latch proceed(1);
    functions->HoldFirstLookup(entered, proceed);
    Completion<BuildListData> running;
    const System::JobHandle second = BuildListJob::Start(scheduler, query, functions, running.Callback());
    entered.wait(); // making display records
    scheduler.Cancel(System::ECancelMode::Chain, second);
    proceed.count_down();
    running.done.wait();
    EXPECT_EQ(running.result, nullptr);
    EXPECT_EQ(running.calls, 1);

    Completion<BuildListData> completion;
    EXPECT_TRUE(BuildListJob::Start(scheduler, query, functions, completion.Callback()).IsValid());
    completion.done.wait();
    ASSERT_NE(completion.result, nullptr);
    const BuildListData& data = *completion.result;
    ASSERT_EQ(data.Items.size(), 5u);
    ASSERT_EQ(data.DisplayRecords.size(), 5u);
    EXPECT_EQ(data.DisplayRecords[0].FunctionName, "main");
    EXPECT_EQ(data.DisplayRecords[1].FunctionName, "f");
    EXPECT_EQ(data.Items[1]->GetTotalInclusive(), 6.0);
    EXPECT_EQ(data.DisplayRecords[1].ModuleName, "module1");
}

TEST(CallGraphManager, AdoptedGraphsGoBackToTheManager)
{
    CallGraphManager manager;
    std::shared_ptr<const CallGraph> original = std::make_shared<CallGraph>();
    const std::weak_ptr<const CallGraph> watch = original;
    std::shared_ptr<const CallGraph> adopted = manager.Adopt(std::move(original));
    EXPECT_EQ(manager.GetLiveCount(), 1);
    std::shared_ptr<const CallGraph> copy = adopted;
    adopted.reset();
    EXPECT_FALSE(watch.expired()); // a reference is still out
    copy.reset();
    EXPECT_EQ(manager.GetLiveCount(), 0);
    // The manager's thread drops the graph soon after.
    for (int i = 0; i < 1000 && !watch.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(manager.Adopt(nullptr), nullptr);
}

TEST_F(JobFixture, ButterflyJobHandsOutManagedGraphsAndLeavesNoneWhenCanceled)
{
    CallGraphManager manager;
    System::JobScheduler scheduler(1);
    Completion<ButterflyGraphs> built;
    BuildButterflyJob::Start(scheduler, query, names.Get("f"), manager, built.Callback());
    built.done.wait();
    ASSERT_NE(built.result, nullptr);
    EXPECT_EQ(manager.GetLiveCount(), 2);
    EXPECT_EQ(built.result->CalledBy->CountNodes(), 6u);
    EXPECT_EQ(Dump(built.result->Calls->GetRoot(), names), "f@0x2000 6 {0x10:1}\n"
                                                           "  c@0x3005 1\n");
    built.result.reset();
    EXPECT_EQ(manager.GetLiveCount(), 0);

    Blocker blocker;
    blocker.Start(scheduler);
    Completion<ButterflyGraphs> completion;
    const System::JobHandle handle =
        BuildButterflyJob::Start(scheduler, query, names.Get("f"), manager, completion.Callback());
    scheduler.Cancel(System::ECancelMode::Chain, handle);
    blocker.release.count_down();
    completion.done.wait();
    EXPECT_EQ(completion.result, nullptr);

    // Canceled wherever it is in its run, the job leaves no graph alive: graphs it shared go
    // back to the manager when the job drops them.
    Completion<ButterflyGraphs> running;
    const System::JobHandle second =
        BuildButterflyJob::Start(scheduler, query, names.Get("f"), manager, running.Callback());
    scheduler.Cancel(System::ECancelMode::Chain, second);
    running.done.wait();
    running.result.reset();
    // The only worker destroys a finished job before it takes the next one.
    std::latch next(1);
    System::JobDescription description;
    description.work = [&next](System::Job&, const std::atomic<bool>&) { next.count_down(); };
    scheduler.Schedule(std::move(description));
    next.wait();
    EXPECT_EQ(manager.GetLiveCount(), 0);
}

TEST_F(JobFixture, TimingJobMapsToLinesWhenTheyAreKnown)
{
    class Lines final : public IAddressLineMap {
    public:
        bool HasAddressRanges() const override { return true; }
        std::optional<int32_t> FindLine(uint64_t address) const override
        {
            return address >= 0x1ff0 && address < 0x2010 ? std::optional<int32_t>(42) : std::nullopt;
        }
    };
    System::JobScheduler scheduler(2);
    Completion<FunctionTimingInfo> completion;
    FunctionTimingJob::Start(scheduler, query, names.Get("a"), std::make_shared<Lines>(),
                             completion.Callback());
    completion.done.wait();
    ASSERT_NE(completion.result, nullptr);
    EXPECT_EQ(completion.result->TotalTime, 2.0);
    ASSERT_EQ(completion.result->LineEntries.size(), 1u);
    EXPECT_EQ(completion.result->LineEntries.at(42).Total, 2.0);
}
