// Threads that the host ends as soon as their last event is behind must leave exactly the model
// that ending every thread at the end of the capture leaves: the same snapshots, byte for byte.

#include "SyntheticCapture.h"
#include "TestCapture.h"

#include "CallGraphModel/Document/CaptureProcessingHandler.h"

#include <gtest/gtest.h>

#include <map>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

/// Processes `events` through the host's handler into a new model of the fixture's. With
/// `finishEarly` the handler is told of each thread's end right after its last event.
bool ProcessEvents(ModelFixture& fixture, const std::vector<TraceEvent>& events, bool finishEarly)
{
    ModelRegistry();
    CallGraphModel& model = fixture.MakeModel();
    Serialization::ErrorList& errors = fixture.errors;
    std::map<uint32_t, std::size_t> lastEvent;
    for (std::size_t i = 0; i < events.size(); ++i)
        lastEvent[static_cast<uint32_t>(events[i].threadId)] = i;
    const std::atomic<bool> canceled{false};
    CaptureProcessingHandler handler(*fixture.capture, canceled);
    Model* models[] = {&model};
    if (!model.BeginProcessing(errors) || !handler.BeginReprocessing(models, errors))
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
    model.EndProcessing();
    return model.Save(errors);
}

TEST(EarlyEnd, ThreadsEndedAfterTheirLastEventStoreWhatEndingThemLastStores)
{
    std::shared_ptr<TestCapture> capture =
        MakeSyntheticCapture({.seed = 5, .durationMs = 23000, .threadCount = 6});
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

    ModelFixture atEnd(capture);
    ModelFixture early(capture);
    ASSERT_TRUE(ProcessEvents(atEnd, events, false)) << atEnd.errors.ToString();
    ASSERT_TRUE(ProcessEvents(early, events, true)) << early.errors.ToString();

    ASSERT_EQ(early.model->GetThreadIds(), atEnd.model->GetThreadIds());
    for (ThreadID thread : atEnd.model->GetThreadIds()) {
        SCOPED_TRACE(testing::Message() << "thread " << static_cast<uint32_t>(thread));
        const SnapshotTable expected = atEnd.Table(thread);
        const SnapshotTable actual = early.Table(thread);
        ASSERT_EQ(SnapshotTimes(actual), SnapshotTimes(expected));
        EXPECT_EQ(actual.GetFullSnapshots(), expected.GetFullSnapshots());
        for (std::size_t i = 0; i < expected.GetSnapshots().size(); ++i)
            EXPECT_EQ(ReadSnapshot(*early.model, actual.GetSnapshots()[i]),
                      ReadSnapshot(*atEnd.model, expected.GetSnapshots()[i]))
                << "snapshot " << i;
    }
    // The windows give both kinds of new thread: one whose first snapshot waits for the next
    // tick, one that no tick follows.
    EXPECT_EQ(SnapshotTimes(atEnd.Table(threads[0])), "5000.140625F endF ");
    EXPECT_EQ(SnapshotTimes(atEnd.Table(threads[5])), "endF ");
    // Ended early: thread 1's final snapshot went to the file before the last tick's ones.
    EXPECT_LT(early.Table(threads[0]).GetSnapshots().back().mOffset,
              early.Table(threads[4]).GetSnapshots()[3].mOffset);
}

TEST(EarlyEnd, AnEventOfAThreadAlreadyFinishedIsADamagedIndexNotAWrongModel)
{
    ModelFixture fixture;
    fixture.capture->Sample(1.0, kThread1, "main;work");
    fixture.capture->Sample(2.0, kThread1, "main;work");
    const std::atomic<bool> canceled{false};
    CaptureProcessingHandler handler(*fixture.capture, canceled);
    Model* models[] = {&fixture.MakeModel()};
    Serialization::ErrorList errors;
    ASSERT_TRUE(fixture.model->BeginProcessing(errors) && handler.BeginReprocessing(models, errors));
    ASSERT_TRUE(handler.HandleEvent(fixture.capture->GetEvents()[0], errors));
    ASSERT_TRUE(handler.FinishThread(kThread1, errors));
    EXPECT_FALSE(handler.HandleEvent(fixture.capture->GetEvents()[1], errors));
    EXPECT_EQ(errors.ToString().find("Thread 1 has events after the last chunk") != std::string::npos, true)
        << errors.ToString();
}

} // namespace
