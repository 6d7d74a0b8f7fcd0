#include "CallGraphText.h"
#include "TestCapture.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/OpenBarProcessor.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

constexpr double kNoLimit = std::numeric_limits<double>::max();

/// One thread's processor routed into a graph.
struct ProcessorRun {
    explicit ProcessorRun(TestCapture& capture, bool reportingOff = true,
                          float interval = OpenBarProcessor::kNoReportingInterval, ThreadID thread = kThread1)
        : capture(capture), processor(capture, thread, reportingOff, interval, 0.0), router(processor, graph)
    {}

    /// Hands every event to the processor; returns how many applied a stack.
    int Feed(double limit = kNoLimit)
    {
        int applied = 0;
        for (const TraceEvent& event : capture.GetEvents())
            applied += processor.HandleEvent(event, limit) ? 1 : 0;
        return applied;
    }

    std::string Dump()
    {
        processor.CloseAll();
        return CallGraphTest::Dump(graph.GetRoot(), capture.GetNames());
    }

    TestCapture& capture;
    OpenBarProcessor processor;
    CallGraph graph;
    CallGraphOpenBarProcessorRouter router;
};

} // namespace

TEST(OpenBarProcessor, SamplesExtendMatchingBarsAndCloseTheRest)
{
    TestCapture capture;
    capture.Sample(0, kThread1, "main;work;leaf");
    capture.Sample(1, kThread1, "main;work;leaf");
    capture.Sample(2, kThread1, "main;work;other+0x24");
    capture.Sample(3, kThread1, "main;idle");
    capture.Sample(4, kThread2, "main;elsewhere"); // another thread's sample is ignored
    ProcessorRun run(capture);
    EXPECT_EQ(run.Feed(), 4);
    EXPECT_EQ(run.processor.GetKeptPrefix(), 1u);
    EXPECT_EQ(run.Dump(), "main 4\n"
                          "  work 3\n"
                          "    leaf 2 {0x3010:2}\n"
                          "    other 1 {0x4024:1}\n"
                          "  idle 1 {0x5010:1}\n");
}

TEST(OpenBarProcessor, CallSitesSeparateBarsOfTheSameFunction)
{
    TestCapture capture(1.0, true);
    capture.Sample(0, kThread1, "main+0x10;work");
    capture.Sample(1, kThread1, "main+0x20;work");
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_EQ(run.Dump(), "main 2\n"
                          "  work@0x1010 1 {0x2010:1}\n"
                          "  work@0x1020 1 {0x2010:1}\n");
}

TEST(OpenBarProcessor, SwitchInChargesTheWaitToTheStackThatResumes)
{
    TestCapture capture;
    capture.Sample(0, kThread1, "main;wait");
    capture.SwitchOut(0.5, kThread1, 4);         // Sleep
    capture.Sample(3, kThread1, "main;ignored"); // switched out: ignored
    capture.SwitchIn(10, kThread1, "main;wait");
    capture.Sample(10.25, kThread1, "main;wait");
    capture.SwitchOut(11.5, kThread1, 30);        // Preemption
    capture.SwitchIn(12, kThread1, "main;other"); // closes wait; the new frame waited too
    ProcessorRun run(capture);
    EXPECT_EQ(run.Feed(), 4);
    EXPECT_EQ(run.Dump(), "main 12 Executing=2 Sleep=9.5 Preemption=0.5\n"
                          "  wait 11.25 Executing=1.75 Sleep=9.5 {0x2010:2}\n"
                          "  other 0.5 Preemption=0.5\n");
}

TEST(OpenBarProcessor, WaitsWithoutAStackStayPendingForTheNextSample)
{
    TestCapture capture;
    capture.Sample(0, kThread1, "main;work");
    capture.SwitchOut(1, kThread1, 0); // IO
    capture.SwitchIn(5, kThread1);     // no stack: 4 ms IO pending
    capture.SwitchOut(5.5, kThread1, 6);
    capture.SwitchIn(6, kThread1); // 0.5 ms Synchronization pending
    capture.Sample(6.5, kThread1, "main;other");
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_TRUE(run.processor.GetPendingTimes()[0] == 0.0 && !run.processor.HasPending());
    // main kept: 1 + 4 IO + 0.5 Synchronization + the rest (2) running; work closed without it.
    EXPECT_EQ(run.Dump(), "main 7.5 Executing=3 IO=4 Synchronization=0.5\n"
                          "  work 1 {0x2010:1}\n"
                          "  other 1 {0x3010:1}\n");
}

TEST(OpenBarProcessor, FirstSwitchInWaitsFromTheLaterOfThreadAndCaptureStart)
{
    TestCapture capture;
    capture.SetCaptureStart(1);
    capture.SetThreadStart(kThread1, 2);
    capture.SwitchIn(5, kThread1, "main");
    capture.Sample(5, kThread1, "main");
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_EQ(run.Dump(), "main 4 UnknownWaitState=3 Executing=1 {0x1010:1}\n");
}

TEST(OpenBarProcessor, ThreadEndsOnWaitReason22AndStatusEvents)
{
    for (int variant = 0; variant < 3; ++variant) {
        TestCapture capture;
        capture.Sample(0, kThread1, "main");
        capture.SwitchOut(0.5, kThread1, 5); // Sleep
        if (variant == 0)
            capture.SwitchOut(0.75, kThread1, 22); // accepted even while switched out
        else
            capture.Status(0.75, kThread1, static_cast<uint8_t>(variant), variant == 2);
        capture.SwitchIn(5, kThread1, "main");
        capture.Sample(6, kThread1, "main");
        ProcessorRun run(capture);
        run.Feed();
        EXPECT_EQ(run.processor.GetState(), kThreadStateEnded);
        EXPECT_EQ(run.Dump(), "main 0.5 {0x1010:1}\n") << "variant " << variant;
    }
    TestCapture capture;
    capture.Sample(0, kThread1, "main");
    capture.Status(0.5, kThread1, 0); // status 0 does not end the thread
    for (auto kind : {ETraceEventKind::Kind4, ETraceEventKind::Kind6, ETraceEventKind::Kind10,
                      ETraceEventKind::Kind11, ETraceEventKind::Kind13, ETraceEventKind::Kind14})
        capture.Other(0.5, kThread1, kind);
    capture.Sample(1, kThread1, "main");
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_EQ(run.Dump(), "main 2 {0x1010:2}\n");
}

TEST(OpenBarProcessor, ZoneBarsOpenOverTheirStackAndCloseAtTheirEnd)
{
    TestCapture capture;
    capture.ZoneBegin(0, kThread1, "main;work", "z");
    capture.Sample(0.5, kThread1, "main;work;leaf"); // matched through the zone bar
    capture.ZoneEnd(1.25, kThread1);
    capture.Sample(2, kThread1, "main;work");
    capture.ZoneEnd(2.5, kThread1); // no zone open: only clamps
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_EQ(run.Dump(), "main 2.5\n"
                          "  work 2.5 {0x2010:1}\n"
                          "    !z@0x2010 1.25\n"
                          "      leaf 0.75 {0x4010:1}\n");
}

TEST(OpenBarProcessor, StacksWithoutTimeMoveBarsButChargeNothing)
{
    TestCapture capture;
    capture.StackWithoutTime(0, kThread1, "main;a");
    capture.StackWithoutTime(0.5, kThread1, "main;b", true);
    capture.Sample(1, kThread1, "main;b");
    ProcessorRun run(capture);
    EXPECT_EQ(run.Feed(), 1);
    EXPECT_EQ(run.Dump(), "main 2\n"
                          "  a 0\n"
                          "  b 1.5 {0x3010:1}\n");
}

TEST(OpenBarProcessor, LimitsAndClampingTakeBackTimeBeyondThem)
{
    TestCapture capture;
    capture.Sample(0, kThread1, "main;work");
    capture.Sample(2, kThread1, "main;late"); // at the limit: nothing is charged, no sample counted
    ProcessorRun run(capture);
    run.Feed(0.5);
    EXPECT_EQ(run.processor.GetBars()[1].EndTime, 0.5);
    run.processor.ClampTo(0.25); // work has closed already
    EXPECT_EQ(run.Dump(), "main 0.25\n"
                          "  work 0.5 {0x2010:1}\n"
                          "  late 0\n");
}

TEST(OpenBarProcessor, ReportingCallsMarkNewIntervalsWithoutChangingFigures)
{
    TestCapture capture;
    for (double time : {0.0, 5.0, 12.0, 13.0})
        capture.Sample(time, kThread1, "main");
    capture.SwitchOut(14, kThread1, 4);
    capture.SwitchIn(25, kThread1, "main"); // the wait crosses 20: reported there
    capture.Sample(26, kThread1, "main");   // same interval: no call

    struct Call {
        int first, bars, interval;
        double time, mainSleep;
        bool report;
    };
    std::vector<Call> calls;
    ProcessorRun run(capture, false, 10.0f);
    auto registration = run.processor.SubscribeBarsClosed(
        [&](std::span<const OpenBar> bars, int first, int interval, double time, bool report) {
            calls.push_back({first, static_cast<int>(bars.size()), interval, time,
                             bars.empty() ? 0.0 : bars[0].StateTimes[4], report});
        });
    run.Feed();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].interval, 0);
    EXPECT_EQ(calls[1].interval, 1);
    EXPECT_EQ(calls[1].time, 12.0);
    EXPECT_EQ(calls[2].interval, 2);
    EXPECT_EQ(calls[2].time, 20.0);
    EXPECT_EQ(calls[2].mainSleep, 6.0); // charged up to the boundary when reported
    for (const Call& call : calls)
        EXPECT_TRUE(call.report && call.first == call.bars);

    ProcessorRun quiet(capture);
    quiet.Feed();
    registration.Reset();
    EXPECT_EQ(run.Dump(), quiet.Dump());
    EXPECT_EQ(run.Dump(), "main 27 Executing=16 Sleep=11 {0x1010:5}\n");
}

TEST(OpenBarProcessor, UnrootedStacksGoUnderTheStackThatClosedTheirRange)
{
    TestCapture capture;
    const uint64_t closing = capture.Stack("main;a;b;c");
    capture.AddBrokenRange(kThread1, {10, 20, closing});
    capture.AddBrokenRange(kThread1, {30, 40, IBrokenStackCursor::kNoClosingStack});
    capture.Sample(12, kThread1, "b;x"); // placed where b runs in the closing stack
    capture.Sample(13, kThread1, "y;z"); // no frame of it there: under all but c
    capture.Sample(20, kThread1, "main;a;b;c");
    capture.Sample(31, kThread1, "y;z"); // no closing stack: at the top
    ProcessorRun run(capture);
    run.Feed();
    EXPECT_EQ(run.Dump(), "main 9\n"
                          "  a 9\n"
                          "    [Unrooted Stacks]@0x2010 1\n"
                          "      b 1\n"
                          "        x 1 {0x5010:1}\n"
                          "    b 8\n"
                          "      [Unrooted Stacks]@0x3010 1\n"
                          "        y 1\n"
                          "          z 1 {0x7010:1}\n"
                          "      c 1 {0x4010:1}\n"
                          "[Unrooted Stacks] 1\n"
                          "  y 1\n"
                          "    z 1 {0x7010:1}\n");
}

TEST(OpenBarProcessor, ContextSwitchesSaveAndRestoreZoneBars)
{
    TestCapture capture;
    capture.ZoneBegin(0, kThread1, "main;run", "task");
    capture.Sample(0.5, kThread1, "main;run;work");
    capture.ContextOut(1, kThread1, 7); // saves main, run, !task; closes !task and work
    capture.Sample(2, kThread1, "main;sched");
    capture.ContextIn(3, kThread1, 99); // nothing saved for 99
    capture.ContextIn(3, kThread1, 7);  // !task reopens over main;sched
    capture.Sample(3.5, kThread1, "main;sched;work");
    ProcessorRun run(capture, false, OpenBarProcessor::kProcessingReportingInterval);
    run.Feed();
    const auto states = capture.GetFibers().GetFiberStates();
    ASSERT_EQ(states.size(), 1u);
    ASSERT_EQ(states[0].size(), 3u);
    EXPECT_EQ(states[0][2].Frame, capture.Zone("task"));
    EXPECT_EQ(states[0][2].ReturnAddress, 0x2010u);
    EXPECT_EQ(run.Dump(), "main 4.5\n"
                          "  run 1\n"
                          "    !task@0x2010 1\n"
                          "      work 0.5 {0x4010:1}\n"
                          "  sched 2.5 {0x5010:1}\n"
                          "    !task@0x2010 1.5\n"
                          "      work 1 {0x4010:1}\n");

    // A replay (reporting off) saves nothing more but restores what processing saved.
    ProcessorRun replay(capture);
    replay.Feed();
    EXPECT_EQ(capture.GetFibers().GetFiberEvents().at(7).size(), 1u);
    EXPECT_EQ(replay.Dump(), run.Dump());
}
