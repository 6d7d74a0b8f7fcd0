#include "SyntheticCapture.h"
#include "TestCapture.h"

#include "Serialization/Binary.h"
#include "Support/TempDirectory.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <fstream>
#include <latch>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

constexpr double kEnd = CallGraphModel::kEndOfCapture;

/// What a request was told, shared with the test because the job owns the request.
struct Outcome {
    std::latch done{1};
    std::unique_ptr<CallGraph> result;
    bool canceled = false;
    int completions = 0;
};

class Request final : public CallGraphModel::GetCallGraphOperation {
public:
    Request(double start, double end, std::vector<ThreadID> threads,
            std::shared_ptr<Outcome> outcome = nullptr)
        : GetCallGraphOperation(start, end, 0, std::move(threads), 0), mOutcome(std::move(outcome))
    {}

    std::function<void()> onStarted;

    void Started() override
    {
        if (onStarted)
            onStarted();
    }
    void Completed(std::unique_ptr<CallGraph> result, bool canceled) override
    {
        if (mOutcome == nullptr)
            return;
        mOutcome->result = std::move(result);
        mOutcome->canceled = canceled;
        ++mOutcome->completions;
        mOutcome->done.count_down();
    }

private:
    std::shared_ptr<Outcome> mOutcome;
};

void AddSamples(TestCapture& capture, ThreadID thread, const std::string& stack, double from, double to,
                double step = 100.0)
{
    for (double time = from; time <= to; time += step)
        capture.Sample(time, thread, stack);
}

} // namespace

TEST(CallGraphModel, SnapshotsAreTakenAtTicksOfDirtyThreads)
{
    ModelFixture fixture;
    // Thread 1 pauses from 12 s to 31 s; thread 2 runs at the start and from 23 s to 24 s.
    AddSamples(*fixture.capture, kThread1, "main;a", 0, 11900);
    AddSamples(*fixture.capture, kThread1, "main;a", 31000, 72000);
    AddSamples(*fixture.capture, kThread2, "main;b", 0, 1000);
    AddSamples(*fixture.capture, kThread2, "main;b", 23000, 24000);
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    // Each tick falls on the first event of a new 5 s interval, however many were skipped; a
    // thread's first snapshot is Full, and each thread ends with a Full one. The graph does not
    // grow, so each Delta is as large as the graph: one Delta, then a Full again.
    EXPECT_EQ(SnapshotTimes(fixture.Table(kThread1)),
              "5000F 10000D 23000F 35000D 40000F 45000D 50000F 55000D 60000F 65000D 70000F endF ");
    EXPECT_EQ(SnapshotTimes(fixture.Table(kThread2)), "5000F 31000D endF ");

    std::unique_ptr<CallGraph> whole = fixture.Query(0, kEnd, {kThread1, kThread2});
    // Equal stacks extend the bars across the pauses.
    EXPECT_EQ(Dump(whole->GetRoot(), fixture.capture->GetNames()), "main 96002\n"
                                                                   "  a 72001 {0x2010:531}\n"
                                                                   "  b 24001 {0x3010:22}\n");
    // The Full snapshot at 70 s holds everything before it.
    std::unique_ptr<CallGraph> late = fixture.Query(70000, 70000.5, {kThread1});
    EXPECT_EQ(Dump(late->GetRoot(), fixture.capture->GetNames()), "main 0.5\n  a 0.5 {0x2010:1}\n");
}

TEST(CallGraphModel, FullSnapshotsGrowRarerWhileTheGraphKeepsGrowing)
{
    ModelFixture fixture;
    // A new call path every 100 ms for 10 minutes: each Delta adds as much as the one before.
    for (int i = 0; i < 6000; ++i)
        fixture.capture->Sample(i * 100.0, kThread1, "main;f" + std::to_string(i));
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    const SnapshotTable table = fixture.Table(kThread1);
    std::vector<uint32_t> fulls = table.GetFullSnapshots();
    fulls.pop_back(); // the final snapshot
    ASSERT_GE(fulls.size(), 3u);
    // The Deltas after a Full add up to about its size, so the Fulls lie ever further apart: a
    // fixed interval would write the whole growing graph again and again.
    for (std::size_t i = 2; i < fulls.size(); ++i)
        EXPECT_GE(fulls[i] - fulls[i - 1], fulls[i - 1] - fulls[i - 2]) << SnapshotTimes(table);
    EXPECT_LT(fulls.size(), 12u) << SnapshotTimes(table);
    // Every time still reads back right.
    std::unique_ptr<CallGraph> range = fixture.Query(431000, 431000 + 250, {kThread1});
    EXPECT_EQ(Dump(range->GetRoot(), fixture.capture->GetNames()),
              "main 250\n  f4310 1 {0x10d8010:1}\n  f4311 1 {0x10d9010:1}\n  f4312 1 {0x10da010:1}\n");
}

TEST(CallGraphModel, WholeCaptureOfManyThreadsMergesTheirTopLevelNodes)
{
    ModelFixture fixture;
    // 120 threads over 40 top-level functions: the root gets more children than it searches
    // linearly, and each record after the first adds into those already there.
    for (uint32_t t = 0; t < 120; ++t)
        AddSamples(*fixture.capture, ThreadID{10 + t}, "top" + std::to_string(t % 40) + ";leaf", t,
                   t + 300.0);
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    std::vector<ThreadID> threads;
    for (uint32_t t = 0; t < 120; ++t)
        threads.push_back(ThreadID{10 + t});
    std::unique_ptr<CallGraph> whole = fixture.Query(0, kEnd, threads);
    ASSERT_EQ(whole->GetRoot().Children.size(), 40u);
    for (const CallGraphNode* top : whole->GetRoot().Children) {
        EXPECT_EQ(top->InclusiveTime(), 3 * 301.0);
        ASSERT_EQ(top->Children.size(), 1u);
        EXPECT_EQ(top->Children[0]->GetSampleCount(), 3u * 4u);
    }
}

TEST(CallGraphModel, SavingRemovesTemporariesOfKilledWriters)
{
    ModelFixture fixture;
    AddSamples(*fixture.capture, kThread1, "main", 0, 6000);
    // A writer killed between writing its temporary and renaming it left one behind.
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ASSERT_GT(dead, 0);
    ::waitpid(dead, nullptr, 0);
    std::filesystem::create_directories(fixture.Folder());
    const std::filesystem::path stale = fixture.Folder() / (".Model.dat.tmp-" + std::to_string(dead) + "-0");
    const std::filesystem::path live =
        fixture.Folder() / (".Model.dat.tmp-" + std::to_string(::getpid()) + "-999");
    TestSupport::WriteFile(stale, "partial");
    TestSupport::WriteFile(live, "being written");
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live)); // its writer may still rename it
    EXPECT_TRUE(std::filesystem::exists(fixture.Folder() / CallGraphModel::kModelFileName));
}

TEST(CallGraphModel, ShortCapturesHaveOnlyFinalSnapshots)
{
    ModelFixture fixture;
    AddSamples(*fixture.capture, kThread1, "main", 0, 4900);
    ASSERT_TRUE(fixture.Process());
    EXPECT_EQ(SnapshotTimes(fixture.Table(kThread1)), "endF ");
    // A thread named twice counts once; no threads, no graph.
    std::unique_ptr<CallGraph> range = fixture.Query(1000, 2000.5, {kThread1, kThread1});
    EXPECT_EQ(Dump(range->GetRoot(), fixture.capture->GetNames()), "main 1000.5 {0x1010:11}\n");
    EXPECT_TRUE(fixture.Query(0, kEnd, {})->GetRoot().Children.empty());
}

TEST(CallGraphModel, WholeCaptureQueriesReadOnlyTheFinalSnapshots)
{
    ModelFixture fixture(MakeSyntheticCapture({.seed = 11, .durationMs = 30000}));
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    const std::vector<ThreadID> threads = GetThreads(*fixture.capture);
    std::unique_ptr<CallGraph> before = fixture.Query(0, kEnd, threads);

    // Wipe every record but the final ones: the whole capture still reads, ranges no longer do.
    std::fstream file(fixture.Folder() / CallGraphModel::kSnapshotsFileName,
                      std::ios::in | std::ios::out | std::ios::binary);
    for (ThreadID thread : threads) {
        const SnapshotTable table = fixture.Table(thread);
        for (const auto& snapshot : table.GetSnapshots())
            if (snapshot.mTime != kEnd) {
                file.seekp(static_cast<std::streamoff>(snapshot.mOffset));
                file.write(std::string(snapshot.mSize, '\0').data(),
                           static_cast<std::streamsize>(snapshot.mSize));
            }
    }
    file.close();
    std::unique_ptr<CallGraph> after = fixture.Query(0, kEnd, threads);
    EXPECT_EQ(CompareGraphs(before->GetRoot(), after->GetRoot(), nullptr, 0.0, fixture.capture->GetNames()),
              "");

    Serialization::ErrorList failures;
    EXPECT_EQ(fixture.Query(12000, 13000, threads, &failures), nullptr);
    EXPECT_NE(failures.ToString().find("Unable to read snapshot at offset"), std::string::npos)
        << failures.ToString();
}

TEST(CallGraphModel, FileFailuresAreReported)
{
    {
        ModelFixture fixture;
        std::filesystem::create_directories(fixture.Folder() / CallGraphModel::kSnapshotsFileName);
        Serialization::ErrorList errors;
        EXPECT_FALSE(fixture.MakeModel().BeginProcessing(errors));
        EXPECT_EQ(errors.GetErrors().at(0).message,
                  "Unable to open file " + (fixture.Folder() / CallGraphModel::kSnapshotsFileName).string() +
                      " for writing.");
    }
    if (std::filesystem::exists("/dev/full")) {
        // Writes fail: the writing job's failure reaches the next tick.
        ModelFixture fixture;
        std::filesystem::create_directories(fixture.Folder());
        std::filesystem::create_symlink("/dev/full", fixture.Folder() / CallGraphModel::kSnapshotsFileName);
        AddSamples(*fixture.capture, kThread1, "main", 0, 12000);
        EXPECT_FALSE(fixture.Process());
        EXPECT_EQ(fixture.errors.GetErrors().at(0).message,
                  "Unable to write to snapshot file: No space left on device");
    }
}

TEST(CallGraphModel, DeleteStoredDataEmptiesTheModelAndSourceFolders)
{
    ModelFixture fixture;
    AddSamples(*fixture.capture, kThread1, "main", 0, 6000);
    ASSERT_TRUE(fixture.Process());
    const std::filesystem::path source = fixture.directory.GetPath() / CallGraphModel::kSourceFolderName;
    std::filesystem::create_directories(source / "nested");
    TestSupport::WriteFile(source / "nested" / "file.cpp", "x");
    Serialization::ErrorList errors;
    EXPECT_TRUE(fixture.model->DeleteStoredData(errors)) << errors.ToString();
    EXPECT_TRUE(std::filesystem::is_directory(fixture.Folder()));
    EXPECT_TRUE(std::filesystem::is_empty(fixture.Folder()));
    EXPECT_TRUE(std::filesystem::is_empty(source));
}

TEST(CallGraphModel, RequestsRunAsJobsAndANewerRequestCancelsTheOlder)
{
    ModelFixture fixture(MakeSyntheticCapture({.seed = 5, .durationMs = 20000}));
    ASSERT_TRUE(fixture.Process());
    const std::vector<ThreadID> threads = GetThreads(*fixture.capture);

    auto first = std::make_shared<Outcome>();
    auto second = std::make_shared<Outcome>();
    std::latch started(1);
    auto blocking = std::make_unique<Request>(1000, 9000, threads, first);
    blocking->onStarted = [&started] {
        started.count_down();
        // Hold the job until the newer request has canceled it.
        while (!System::JobScheduler::GetCurrentJob()->IsCancelRequested())
            std::this_thread::yield();
    };
    const System::JobHandle firstHandle = fixture.model->GetCallGraph(std::move(blocking), {});
    started.wait();
    const System::JobHandle secondHandle =
        fixture.model->GetCallGraph(std::make_unique<Request>(1000, 9000, threads, second), firstHandle);
    first->done.wait();
    second->done.wait();
    EXPECT_EQ(secondHandle.group, firstHandle.group);
    EXPECT_TRUE(first->canceled);
    EXPECT_EQ(first->result, nullptr);
    EXPECT_EQ(first->completions, 1);
    ASSERT_FALSE(second->canceled);
    ASSERT_NE(second->result, nullptr);
    std::unique_ptr<CallGraph> direct = fixture.Query(1000, 9000, threads);
    EXPECT_EQ(CompareGraphs(direct->GetRoot(), second->result->GetRoot(), nullptr, 0.0,
                            fixture.capture->GetNames()),
              "");
    fixture.scheduler.Wait(secondHandle);
}

TEST(CallGraphModel, SavedModelsLoadAndAnswerTheSameQueries)
{
    ModelFixture fixture(MakeSyntheticCapture({.seed = 21, .durationMs = 60000}));
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    Serialization::ErrorList errors;
    std::unique_ptr<CallGraphModel> loaded = LoadCallGraphModel(
        CallGraphModelContext{fixture.directory.GetPath(), &fixture.scheduler, fixture.capture},
        ModelRegistry(), errors);
    ASSERT_NE(loaded, nullptr) << errors.ToString();
    const std::vector<ThreadID> threads = fixture.model->GetThreadIds();
    ASSERT_EQ(loaded->GetThreadIds(), threads);
    for (ThreadID thread : threads) {
        const SnapshotTable saved = fixture.Table(thread);
        const SnapshotTable read = loaded->FindThread(thread)->GetTable();
        EXPECT_EQ(read.GetFullSnapshots(), saved.GetFullSnapshots());
        ASSERT_EQ(read.GetSnapshots().size(), saved.GetSnapshots().size());
        for (std::size_t i = 0; i < saved.GetSnapshots().size(); ++i) {
            const auto& a = saved.GetSnapshots()[i];
            const auto& b = read.GetSnapshots()[i];
            EXPECT_TRUE(a.mTime == b.mTime && a.mOffset == b.mOffset && a.mSize == b.mSize &&
                        a.mType == b.mType);
        }
    }
    for (auto [start, end] : {std::pair{0.0, kEnd}, {1000.0, 52000.0}, {33000.0, 33100.0}}) {
        std::unique_ptr<CallGraph> before = fixture.Query(start, end, threads);
        std::unique_ptr<CallGraph> after = QueryModel(*loaded, start, end, threads);
        EXPECT_EQ(
            CompareGraphs(before->GetRoot(), after->GetRoot(), nullptr, 0.0, fixture.capture->GetNames()),
            "");
    }
}

TEST(CallGraphModel, LoadingRejectsWhatIsNotASoundModel)
{
    ModelFixture fixture;
    const CallGraphModelContext context{fixture.directory.GetPath(), &fixture.scheduler, fixture.capture};
    const std::filesystem::path modelFile = fixture.Folder() / CallGraphModel::kModelFileName;
    auto load = [&] {
        Serialization::ErrorList errors;
        EXPECT_EQ(LoadCallGraphModel(context, ModelRegistry(), errors), nullptr);
        return errors.IsEmpty() ? std::string() : errors.GetErrors().back().message;
    };
    EXPECT_NE(load(), ""); // no "Model.dat" yet

    Serialization::ErrorList errors;
    CallGraphModel model(context); // makes the folder
    CallGraphThread lonely(kThread1);
    ASSERT_TRUE(Serialization::WriteBinaryFile(modelFile, {&lonely}, errors)) << errors.ToString();
    EXPECT_EQ(load(), "The file does not appear to be a CallGraphModel file (missing CallGraphModel object)");

    SnapshotTable backwards;
    backwards.Append({2000.0, 0, 10, ESnapshotType::Full});
    backwards.Append({1000.0, 10, 10, ESnapshotType::Delta});
    model.AddThread(kThread1, backwards);
    ASSERT_TRUE(Serialization::WriteBinaryFile(modelFile, {&model}, errors)) << errors.ToString();
    EXPECT_EQ(load(), "The snapshot table of thread 1 is damaged");

    CallGraphModel empty(context);
    ASSERT_TRUE(Serialization::WriteBinaryFile(modelFile, {&empty}, errors)) << errors.ToString();
    EXPECT_EQ(load(), "Unable to open file " +
                          (fixture.Folder() / CallGraphModel::kSnapshotsFileName).string() + " for reading.");
}
