// The query API that the views and qx share: superseding, completion on the caller's executor,
// errors kept apart from cancellation, and what a capture with missing files may still answer.

#include "CaptureTestSupport.h"

#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "Support/TempDirectory.h"
#include "System/Platform/FileLock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <latch>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace Profiler;
using RuntimeTest::Query;
using RuntimeTest::Range;
using testing::HasSubstr;

namespace {

constexpr double kWhole = CallGraphModel::kEndOfCapture;

/// An executor that queues its tasks, as a user interface thread's event loop does, until the
/// test runs them.
class QueuedExecutor {
public:
    Executor Get()
    {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mMutex);
            mTasks.push_back(std::move(task));
            mQueued.notify_all();
        };
    }
    void WaitForTasks(std::size_t count)
    {
        std::unique_lock lock(mMutex);
        mQueued.wait(lock, [&] { return mTasks.size() >= count; });
    }
    void RunAll()
    {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mMutex);
            tasks.swap(mTasks);
        }
        for (auto& task : tasks)
            task();
    }

private:
    std::mutex mMutex;
    std::condition_variable mQueued;
    std::deque<std::function<void()>> mTasks;
};

TEST(CaptureQueries, ANewerRequestSupersedesTheOlderWhoseLateResultIsDropped)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(RuntimeTest::ProcessedCapture(), errors));
    QueuedExecutor executor;
    CaptureQueries queries(document, executor.Get());
    std::vector<CallGraphResult> results;
    auto collect = [&](CallGraphResult result) { results.push_back(std::move(result)); };

    const uint64_t first = queries.SubmitCallGraph(Range({}, 1000.0, 9000.0), collect);
    const uint64_t second = queries.SubmitCallGraph(Range({}, 2000.0, 3000.0), collect);
    EXPECT_GT(second, first);
    // Whether the first was canceled in time or finished before the second came, its result must
    // not reach the caller as an answer.
    executor.WaitForTasks(2);
    executor.RunAll();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].Request.Generation, first);
    EXPECT_EQ(results[0].Outcome, EQueryOutcome::Canceled);
    EXPECT_EQ(results[0].Graph, nullptr);
    EXPECT_EQ(results[1].Request.Generation, second);
    ASSERT_EQ(results[1].Outcome, EQueryOutcome::Graph) << results[1].Errors.ToString();
    EXPECT_NEAR(results[1].Graph->GetTotalTime(), 3 * 1000.0, 50.0);

    // A result that is ready but not yet run when a newer request comes is dropped too.
    results.clear();
    queries.SubmitCallGraph(Range({}, 0.0, kWhole), collect);
    executor.WaitForTasks(1);
    queries.SubmitCallGraph(Range({}, 0.0, 500.0), collect);
    executor.WaitForTasks(2);
    executor.RunAll();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].Outcome, EQueryOutcome::Canceled);
    EXPECT_EQ(results[1].Outcome, EQueryOutcome::Graph);
}

TEST(CaptureQueries, ErrorsAreNeitherGraphsNorCancelsAndNeverCompleteInsideSubmit)
{
    TestSupport::TempDirectory directory;
    RuntimeTest::CopyCapture(directory / "capture");
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(directory / "capture", errors));
    CaptureQueries queries(document, MakeInlineExecutor());
    // Even with the inline executor the completion runs on a job's thread, never inside Submit,
    // so a caller holding a lock around Submit cannot deadlock with its own completion.
    const std::thread::id caller = std::this_thread::get_id();
    std::latch done(1);
    CallGraphResult outcome;
    std::thread::id completedOn;
    queries.SubmitCallGraph({}, [&](CallGraphResult result) {
        completedOn = std::this_thread::get_id();
        outcome = std::move(result);
        done.count_down();
    });
    done.wait();
    EXPECT_NE(completedOn, caller);
    EXPECT_EQ(outcome.Outcome, EQueryOutcome::Error);
    EXPECT_EQ(outcome.Graph, nullptr);
    EXPECT_THAT(outcome.Errors.ToString(), HasSubstr("not been processed"));
}

TEST(CaptureQueries, AThreadNamedTwiceCountsOnce)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(RuntimeTest::ProcessedCapture(), errors));
    const ThreadID thread = document.GetModelThreads()[1];
    for (const double to : {kWhole, 7000.0}) {
        const CallGraphResult once = Query(document, Range({thread}, 1000.0, to));
        const CallGraphResult twice = Query(document, Range({thread, thread, thread}, 1000.0, to));
        ASSERT_EQ(once.Outcome, EQueryOutcome::Graph);
        ASSERT_EQ(twice.Outcome, EQueryOutcome::Graph);
        EXPECT_GT(once.Graph->GetTotalTime(), 1000.0);
        EXPECT_EQ(RuntimeTest::CompareGraphs(once.Graph->GetRoot(), twice.Graph->GetRoot(), 0.0), "");
    }
}

TEST(CaptureDocument, MissingBrokenStackFilesRefuseRangesButNotTheWholeCapture)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path& processed = RuntimeTest::ProcessedCapture();
    for (const char* file : {"stacks.dat", "stacks.index"}) {
        const std::filesystem::path capture = directory / file;
        std::filesystem::copy(processed, capture, std::filesystem::copy_options::recursive);
        std::filesystem::remove(capture / file);
        CaptureDocument document;
        Serialization::ErrorList errors;
        ASSERT_TRUE(document.Open(capture, errors)) << file << ": " << errors.ToString();
        EXPECT_THAT(document.GetWarnings().ToString(), HasSubstr(file));
        EXPECT_EQ(Query(document, {}).Outcome, EQueryOutcome::Graph) << file;
        const CallGraphResult range = Query(document, Range({}, 1000.0, 2000.0));
        EXPECT_EQ(range.Outcome, EQueryOutcome::Error) << file;
        EXPECT_THAT(range.Errors.ToString(), HasSubstr("stacks.")) << file;
        // A model made without them would be wrong ever after.
        EXPECT_EQ(document.Process({}, errors, true), CaptureDocument::EProcessResult::Failed) << file;
    }
}

TEST(CaptureDocument, DamageInsideTheCallStacksIsFoundBeforeItBecomesPartOfAModel)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path capture = directory / "capture";
    RuntimeTest::CopyCapture(capture);
    const std::filesystem::path stacks = capture / "CallstackDatabase.dat";
    {
        // One flipped byte in the middle of the nodes keeps the layout that opening checks.
        std::fstream file(stacks, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(static_cast<std::streamoff>(std::filesystem::file_size(stacks) / 2));
        const char byte = static_cast<char>(file.get() ^ 0x5a);
        file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(stacks) / 2));
        file.put(byte);
    }
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(capture, errors)) << errors.ToString();
    EXPECT_EQ(document.Process({}, errors), CaptureDocument::EProcessResult::Failed);
    EXPECT_THAT(errors.ToString(), HasSubstr("CallstackDatabase.dat"));
    EXPECT_FALSE(std::filesystem::exists(capture / "CallGraph" / "Model.dat"));
}

TEST(FileLock, ASecondHolderIsToldWhoHoldsTheLockUntilItIsReleased)
{
    TestSupport::TempDirectory directory;
    using System::Platform::FileLock;
    FileLock first;
    ASSERT_EQ(first.TryLock(directory.GetPath()), FileLock::EResult::Locked);
    FileLock second;
    EXPECT_EQ(second.TryLock(directory.GetPath()), FileLock::EResult::Busy);
    EXPECT_THAT(second.GetMessage(), HasSubstr("process " + std::to_string(getpid()) + " ("));
    EXPECT_THAT(second.GetMessage(), HasSubstr("RuntimeTests"));
    EXPECT_FALSE(second.IsLocked());
    first.Unlock();
    EXPECT_EQ(second.TryLock(directory.GetPath()), FileLock::EResult::Locked);
    FileLock moved = std::move(second);
    EXPECT_TRUE(moved.IsLocked());
    EXPECT_EQ(first.TryLock(directory.GetPath()), FileLock::EResult::Busy);
    EXPECT_EQ(first.TryLock(directory / "missing"), FileLock::EResult::Failed);
}

} // namespace
