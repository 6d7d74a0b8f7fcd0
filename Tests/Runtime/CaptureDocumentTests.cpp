#include "CaptureTestSupport.h"

#include "CallGraphModel/CallGraphModel.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/SessionEventSource.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"
#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <latch>
#include <thread>

using namespace Profiler;
using RuntimeTest::CompareGraphs;
using RuntimeTest::Query;
using RuntimeTest::Range;
using testing::HasSubstr;

namespace {

// The model and a replay add the same times in other orders.
constexpr double kTolerance = 1e-6;          // ms, on totals
constexpr double kRelativeTolerance = 1e-11; // per node
constexpr double kWhole = CallGraphModel::kEndOfCapture;

std::string FirstError(const Serialization::ErrorList& errors)
{
    if (errors.IsEmpty())
        return "";
    const auto& record = errors.GetErrors().front();
    return record.context + ": " + record.message;
}

TEST(CaptureDocument, ProcessesOnceAndLoadsTheStoredModelAfterwards)
{
    TestSupport::TempDirectory directory;
    RuntimeTest::CopyCapture(directory / "capture");
    Serialization::ErrorList errors;
    {
        CaptureDocument document;
        ASSERT_TRUE(document.Open(directory / "capture", errors)) << errors.ToString();
        EXPECT_FALSE(document.IsProcessed());
        int reports = 0;
        double last = -1.0;
        const auto result = document.Process(
            [&](double fraction) {
                EXPECT_GT(fraction, last);
                last = fraction;
                ++reports;
                return true;
            },
            errors);
        ASSERT_EQ(result, CaptureDocument::EProcessResult::Processed) << errors.ToString();
        EXPECT_EQ(last, 1.0);
        EXPECT_GE(reports, 50);
        EXPECT_LE(reports, 101);
        EXPECT_EQ(document.GetProcessedEventCount(),
                  document.GetSession().GetTraceEventStream()->GetNumEvents());
        EXPECT_EQ(document.GetModelThreads().size(), 3u);
    }
    EXPECT_TRUE(std::filesystem::exists(directory / "capture" / "CallGraph" / "Model.dat"));
    EXPECT_TRUE(std::filesystem::exists(directory / "capture" / "Shared" / "Model.dat"));
    const auto snapshotsTime =
        std::filesystem::last_write_time(directory / "capture" / "CallGraph" / "Snapshots.dat");

    CaptureDocument reopened;
    ASSERT_TRUE(reopened.Open(directory / "capture", errors)) << errors.ToString();
    EXPECT_TRUE(reopened.IsProcessed());
    EXPECT_EQ(reopened.Process({}, errors), CaptureDocument::EProcessResult::AlreadyProcessed);
    EXPECT_EQ(reopened.GetProcessedEventCount(), 0u);
    EXPECT_EQ(std::filesystem::last_write_time(directory / "capture" / "CallGraph" / "Snapshots.dat"),
              snapshotsTime);
    EXPECT_EQ(reopened.GetModelThreads().size(), 3u);
}

TEST(CaptureDocument, QueriesEqualAReplayOfEveryEventFromTheStart)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(RuntimeTest::ProcessedCapture(), errors)) << errors.ToString();
    ASSERT_TRUE(document.IsProcessed());
    const std::vector<ThreadID> threads = document.GetModelThreads();
    struct Span {
        double from, to;
    };
    // The whole capture (whose start is not used), inside one snapshot interval, across
    // snapshots, from a snapshot time on, past the end, before the start, and empty.
    const Span ranges[] = {{4321.0, kWhole},  {100.25, 900.5},   {1200.0, 4800.0}, {3000.0, 11000.0},
                           {5000.0, 5000.75}, {9999.0, 13000.0}, {-50.0, 2500.0},  {7000.0, 7000.0}};
    for (const Span& range : ranges) {
        for (const std::vector<ThreadID>& set :
             {threads, std::vector<ThreadID>{threads[1]}, std::vector<ThreadID>{threads[2], threads[0]}}) {
            const CallGraphResult result = Query(document, Range(set, range.from, range.to));
            ASSERT_EQ(result.Outcome, EQueryOutcome::Graph) << result.Errors.ToString();
            const std::shared_ptr<const CallGraph>& actual = result.Graph;
            std::unique_ptr<CallGraph> expected =
                RuntimeTest::ReplayRange(document, set, range.from, range.to);
            EXPECT_EQ(CompareGraphs(expected->GetRoot(), actual->GetRoot(), kRelativeTolerance), "")
                << "[" << range.from << ", " << range.to << "] over " << set.size() << " threads";
            if (range.to == kWhole) {
                EXPECT_GT(expected->GetTotalTime(), 1000.0 * set.size());
            } else if (range.from == range.to) {
                EXPECT_TRUE(actual->GetRoot().Children.empty());
            } else {
                EXPECT_NEAR(actual->GetTotalTime(), expected->GetTotalTime(), kTolerance);
            }
        }
    }
    // No threads given means every thread.
    const std::shared_ptr<const CallGraph> all = Query(document, {}).Graph;
    ASSERT_NE(all, nullptr);
    EXPECT_NEAR(all->GetTotalTime(), RuntimeTest::ReplayRange(document, threads, 0.0, kWhole)->GetTotalTime(),
                kTolerance);
}

TEST(CaptureDocument, FunctionListsNameFunctionsForDisplayAndCountEverySample)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(RuntimeTest::ProcessedCapture(), errors)) << errors.ToString();
    std::shared_ptr<const CallGraph> graph = Query(document, Range({}, 2000.0, 6000.0)).Graph;
    ASSERT_NE(graph, nullptr);
    CaptureQueries queries(document, MakeInlineExecutor());
    std::latch done(1);
    std::shared_ptr<const BuildListData> list;
    queries.SubmitFunctionList({graph, 0, 0}, [&](FunctionListResult result) {
        list = result.Data;
        done.count_down();
    });
    done.wait();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Items.size(), list->DisplayRecords.size());
    ASSERT_FALSE(list->Items.empty());

    uint64_t listSamples = 0;
    for (std::size_t i = 0; i < list->Items.size(); ++i) {
        listSamples += list->Items[i]->SampleCount;
        if (i > 0) {
            EXPECT_GE(list->Items[i - 1]->GetTotalInclusive(), list->Items[i]->GetTotalInclusive());
        }
        EXPECT_EQ(list->DisplayRecords[i].FunctionName,
                  document.GetFunctionNames().GetFunctionName(list->Items[i]->Function));
        EXPECT_THAT(list->DisplayRecords[i].FunctionName, testing::Not(HasSubstr("+0x")));
    }
    uint64_t graphSamples = 0;
    std::vector<const CallGraphNode*> pending{&graph->GetRoot()};
    while (!pending.empty()) {
        const CallGraphNode* node = pending.back();
        pending.pop_back();
        graphSamples += node->GetSampleCount();
        pending.insert(pending.end(), node->Children.begin(), node->Children.end());
    }
    EXPECT_EQ(listSamples, graphSamples);
    EXPECT_GT(graphSamples, 3000u);
    // The outermost function runs the whole range on every thread.
    EXPECT_NEAR(list->Items.front()->GetTotalInclusive(), graph->GetTotalTime() * 2.0 / 3.0, 1.0);
}

TEST(CaptureDocument, CancelingStoresNothingAndALaterRunProcesses)
{
    TestSupport::TempDirectory directory;
    RuntimeTest::CopyCapture(directory / "capture");
    Serialization::ErrorList errors;
    CaptureDocument document;
    ASSERT_TRUE(document.Open(directory / "capture", errors)) << errors.ToString();
    EXPECT_EQ(document.Process([](double fraction) { return fraction < 0.3; }, errors),
              CaptureDocument::EProcessResult::Canceled);
    EXPECT_FALSE(document.IsProcessed());
    EXPECT_FALSE(std::filesystem::exists(directory / "capture" / "CallGraph" / "Model.dat"));
    EXPECT_FALSE(std::filesystem::exists(directory / "capture" / "CallGraph" / "Snapshots.dat"));
    EXPECT_EQ(document.Process({}, errors), CaptureDocument::EProcessResult::Processed) << errors.ToString();
    EXPECT_NE(Query(document, {}).Graph, nullptr);
}

TEST(CaptureDocument, DamagedOrStaleModelsAreProcessedAgain)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path capture = directory / "capture";
    std::filesystem::copy(RuntimeTest::ProcessedCapture(), capture, std::filesystem::copy_options::recursive);
    Serialization::ErrorList errors;
    {
        CaptureDocument document;
        ASSERT_TRUE(document.Open(capture, errors));
        EXPECT_TRUE(document.IsProcessed());
    }
    std::filesystem::resize_file(capture / "CallGraph" / "Model.dat", 40);
    {
        CaptureDocument document;
        ASSERT_TRUE(document.Open(capture, errors)) << errors.ToString();
        EXPECT_FALSE(document.IsProcessed());
        EXPECT_EQ(document.Process({}, errors), CaptureDocument::EProcessResult::Processed)
            << errors.ToString();
    }
    // Events written after the model make it stale.
    std::filesystem::last_write_time(capture / "events.index",
                                     std::filesystem::last_write_time(capture / "CallGraph" / "Model.dat") +
                                         std::chrono::seconds(5));
    CaptureDocument document;
    ASSERT_TRUE(document.Open(capture, errors)) << errors.ToString();
    EXPECT_FALSE(document.IsProcessed());
}

TEST(CaptureDocument, DamagedSnapshotsFailQueriesWithTheSnapshotFile)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path capture = directory / "capture";
    std::filesystem::copy(RuntimeTest::ProcessedCapture(), capture, std::filesystem::copy_options::recursive);
    std::filesystem::resize_file(capture / "CallGraph" / "Snapshots.dat", 100);
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(capture, errors)) << errors.ToString();
    const CallGraphResult whole = Query(document, {});
    EXPECT_EQ(whole.Outcome, EQueryOutcome::Error);
    EXPECT_THAT(FirstError(whole.Errors), HasSubstr("Snapshots.dat"));
    const CallGraphResult range = Query(document, Range({}, 6000.0, 7000.0));
    EXPECT_EQ(range.Outcome, EQueryOutcome::Error);
    EXPECT_EQ(range.Graph, nullptr);
    EXPECT_FALSE(range.Errors.IsEmpty());
}

TEST(SessionEventSource, ReadsTheChosenThreadsFromAPositionAndClonesWhereItStands)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    ASSERT_TRUE(document.Open(RuntimeTest::ProcessedCapture(), errors)) << errors.ToString();
    const ThreadID thread = document.GetModelThreads()[1];
    SessionEventSource source(*document.GetSession().GetTraceEventStream());
    source.SetThreads(std::span<const ThreadID>(&thread, 1));
    ASSERT_TRUE(source.Seek(3000.0));
    TraceEvent event;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(source.Next(event, kWhole));
        EXPECT_EQ(event.threadId, thread);
        EXPECT_GE(event.time, 3000.0);
        EXPECT_FALSE(IsZoneEvent(event.kind));
    }
    std::unique_ptr<ITraceEventSource> clone = source.Clone();
    for (int i = 0; i < 100; ++i) {
        TraceEvent copied;
        ASSERT_TRUE(source.Next(event, kWhole));
        ASSERT_TRUE(clone->Next(copied, kWhole));
        EXPECT_EQ(copied.time, event.time);
        EXPECT_EQ(copied.kind, event.kind);
        EXPECT_EQ(copied.stackId, event.stackId);
    }
    // Reading stops before the end time and stays there.
    const double stop = event.time + 50.0;
    while (source.Next(event, stop))
        EXPECT_LT(event.time, stop);
    ASSERT_TRUE(source.Next(event, kWhole));
    EXPECT_GE(event.time, stop);
    EXPECT_FALSE(source.HasFailed());
}

TEST(FunctionDisplayNames, DropOffsetsAndShowUnknownSymbolsAsTheirModule)
{
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("parse+0x1f", "/usr/lib/libx.so"), "parse");
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("operator+", "/usr/lib/libx.so"), "operator+");
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("a+0xzz", "libx.so"), "a+0xzz");
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("[unknown]", "/usr/lib/libx.so"), "[libx.so]");
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("Unknown", "<unknown>"), "[unknown]");
    EXPECT_EQ(FunctionDisplayNames::MakeDisplayName("[unknown]", "[kernel.kallsyms]"), "[kernel.kallsyms]");
}

} // namespace
