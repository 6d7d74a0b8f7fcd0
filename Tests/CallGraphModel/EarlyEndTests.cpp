// Threads that the host ends as soon as their last event is behind must leave exactly the model
// that ending every thread at the end of the capture leaves: the same snapshots, byte for byte.

#include "SyntheticCapture.h"
#include "TestCapture.h"

#include "CallGraphModel/Document/CaptureProcessingHandler.h"
#include "Support/TempDirectory.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <map>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

/// One processing of a capture's events into a model of its own.
struct ProcessedModel {
    TestSupport::TempDirectory directory;
    System::JobScheduler scheduler{2};
    std::unique_ptr<CallGraphModel> model;
    Serialization::ErrorList errors;

    /// With `finishEarly` the handler is told of each thread's end right after its last event.
    bool Process(const std::shared_ptr<TestCapture>& capture, const std::vector<TraceEvent>& events,
                 bool finishEarly)
    {
        ModelRegistry();
        model =
            std::make_unique<CallGraphModel>(CallGraphModelContext{directory.GetPath(), &scheduler, capture});
        std::map<uint32_t, std::size_t> lastEvent;
        for (std::size_t i = 0; i < events.size(); ++i)
            lastEvent[static_cast<uint32_t>(events[i].threadId)] = i;
        const std::atomic<bool> canceled{false};
        CaptureProcessingHandler handler(*capture, canceled);
        Model* models[] = {model.get()};
        if (!model->BeginProcessing(errors) || !handler.BeginReprocessing(models, errors))
            return false;
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (!handler.HandleEvent(events[i], errors))
                return false;
            if (finishEarly && lastEvent[static_cast<uint32_t>(events[i].threadId)] == i &&
                !handler.FinishThread(events[i].threadId, errors))
                return false;
        }
        if (!handler.EndReprocessing(errors))
            return false;
        model->EndProcessing();
        return model->Save(errors);
    }

    SnapshotTable Table(ThreadID thread) const { return model->FindThread(thread)->GetTable(); }

    std::vector<uint8_t> Record(const SnapshotTable::SnapshotDescription& snapshot) const
    {
        SnapshotFile::ReadBuffer buffer;
        std::string error;
        EXPECT_TRUE(model->GetSnapshotFile().ReadRecord(snapshot.mOffset, snapshot.mSize, buffer, error))
            << error;
        return {buffer.GetData(), buffer.GetData() + buffer.GetSize()};
    }
};

/// A thread's snapshot times and types, "5000F 10000D endF".
std::string Times(const SnapshotTable& table)
{
    std::string text;
    for (const auto& snapshot : table.GetSnapshots())
        text += (snapshot.mTime == CallGraphModel::kEndOfCapture ? std::string("end")
                                                                 : std::to_string(int(snapshot.mTime))) +
                (snapshot.mType == ESnapshotType::Full ? "F " : "D ");
    return text;
}

TEST(EarlyEnd, ThreadsEndedAfterTheirLastEventStoreWhatEndingThemLastStores)
{
    SyntheticOptions options;
    options.durationMs = 23000;
    options.threadCount = 6;
    options.seed = 5;
    std::shared_ptr<TestCapture> capture = MakeSyntheticCapture(options);
    // Each thread lives in its own window of the capture (ticks about every 5000 ms): ended
    // before the first tick, ended with events since its last snapshot (it waits for the next
    // tick), the same after the last tick, living to the end, and starting after the last tick.
    const std::vector<ThreadID> threads = GetThreads(*capture);
    ASSERT_EQ(threads.size(), 6u);
    const std::pair<double, double> spans[] = {{0, 3000},     {0, 7000},  {0, 21000},
                                               {2000, 12000}, {0, 23000}, {21000, 22500}};
    std::map<uint32_t, std::pair<double, double>> windows;
    for (std::size_t i = 0; i < threads.size(); ++i)
        windows[static_cast<uint32_t>(threads[i])] = spans[i];
    std::vector<TraceEvent> events;
    for (const TraceEvent& event : capture->GetEvents()) {
        auto window = windows.find(static_cast<uint32_t>(event.threadId));
        if (window != windows.end() && event.time >= window->second.first &&
            event.time < window->second.second)
            events.push_back(event);
    }

    ProcessedModel atEnd;
    ProcessedModel early;
    ASSERT_TRUE(atEnd.Process(capture, events, false)) << atEnd.errors.ToString();
    ASSERT_TRUE(early.Process(capture, events, true)) << early.errors.ToString();

    ASSERT_EQ(early.model->GetThreadIds(), atEnd.model->GetThreadIds());
    for (ThreadID thread : atEnd.model->GetThreadIds()) {
        SCOPED_TRACE(testing::Message() << "thread " << static_cast<uint32_t>(thread));
        const SnapshotTable expected = atEnd.Table(thread);
        const SnapshotTable actual = early.Table(thread);
        ASSERT_EQ(Times(actual), Times(expected));
        EXPECT_EQ(actual.GetFullSnapshots(), expected.GetFullSnapshots());
        for (std::size_t i = 0; i < expected.GetSnapshots().size(); ++i)
            EXPECT_EQ(early.Record(actual.GetSnapshots()[i]), atEnd.Record(expected.GetSnapshots()[i]))
                << "snapshot " << i;
    }
    // The windows give both kinds of new thread: one whose first snapshot waits for the next
    // tick, one that no tick follows.
    EXPECT_EQ(Times(atEnd.Table(threads[0])), "5000F endF ");
    EXPECT_EQ(Times(atEnd.Table(threads[5])), "endF ");
    // Ended early: thread 1's final snapshot went to the file before the last tick's ones.
    EXPECT_LT(early.Table(threads[0]).GetSnapshots().back().mOffset,
              early.Table(threads[4]).GetSnapshots()[3].mOffset);
}

TEST(EarlyEnd, AnEventOfAThreadAlreadyFinishedIsADamagedIndexNotAWrongModel)
{
    std::shared_ptr<TestCapture> capture = std::make_shared<TestCapture>();
    capture->Sample(1.0, kThread1, "main;work");
    capture->Sample(2.0, kThread1, "main;work");
    ProcessedModel processed;
    processed.model = std::make_unique<CallGraphModel>(
        CallGraphModelContext{processed.directory.GetPath(), &processed.scheduler, capture});
    const std::atomic<bool> canceled{false};
    CaptureProcessingHandler handler(*capture, canceled);
    Model* models[] = {processed.model.get()};
    Serialization::ErrorList errors;
    ASSERT_TRUE(processed.model->BeginProcessing(errors) && handler.BeginReprocessing(models, errors));
    ASSERT_TRUE(handler.HandleEvent(capture->GetEvents()[0], errors));
    ASSERT_TRUE(handler.FinishThread(kThread1, errors));
    EXPECT_FALSE(handler.HandleEvent(capture->GetEvents()[1], errors));
    EXPECT_EQ(errors.ToString().find("Thread 1 has events after the last chunk") != std::string::npos, true)
        << errors.ToString();
}

} // namespace
