#include "CaptureReading.h"
#include "SharedRecordings.h"
#include "Importers/CaptureStackFolder.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfWaitReasonMapper.h"
#include "Support/TempDirectory.h"

#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/ModuleDatabase.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace Profiler;
using testing::ElementsAre;

struct StoredEvent {
    ETraceEventKind kind;
    double time;
    int32_t process;
    int32_t thread;
    uint64_t stackId;
    uint8_t data8;
    uint64_t data64;
};

struct Imported {
    bool ok = false;
    PerfImportStats stats;
    std::string problems;
    std::unique_ptr<Session> session;
    std::vector<StoredEvent> events;

    std::vector<StoredEvent> Of(ETraceEventKind kind, int32_t thread = -1) const
    {
        std::vector<StoredEvent> found;
        for (const StoredEvent& event : events)
            if (event.kind == kind && (thread == -1 || event.thread == thread))
                found.push_back(event);
        return found;
    }
    std::vector<double> Times(ETraceEventKind kind, int32_t thread = -1) const
    {
        std::vector<double> times;
        for (const StoredEvent& event : Of(kind, thread))
            times.push_back(event.time);
        return times;
    }
    std::vector<uint8_t> Reasons(int32_t thread) const
    {
        std::vector<uint8_t> reasons;
        for (const StoredEvent& event : Of(ETraceEventKind::ContextSwitchOut, thread))
            reasons.push_back(event.data8);
        return reasons;
    }
    /// Function names of a stored stack, outermost first.
    std::vector<std::string> StackNames(int32_t process, uint64_t stackId, double timeMs = 0.0) const
    {
        std::vector<ResolvedFrame> frames;
        session->ResolveStack(process, stackId, timeMs, frames);
        std::vector<std::string> names;
        for (const ResolvedFrame& frame : frames)
            names.push_back(session->GetModuleDatabase().GetFunctionName(frame.Function));
        return names;
    }
};

class PerfCaptureImporterTest : public testing::Test {
protected:
    Imported Import(const std::string& text, PerfImportOptions options = {})
    {
        Imported result;
        const std::filesystem::path capture = mDirectory / ("capture" + std::to_string(mCount++));
        Serialization::ErrorList errors;
        result.ok = PerfCaptureImporter::Import(
            [&text](PerfScriptParser& parser, Serialization::ErrorList&) {
                parser.Feed(text);
                parser.Finish();
                return true;
            },
            capture, options, result.stats, result.problems, errors);
        EXPECT_TRUE(result.ok) << errors.ToString();
        if (!result.ok)
            return result;
        result.session = CaptureReading::Load(capture);
        if (!result.session)
            return result;
        CaptureReading::ForEachEvent(*result.session, [&result](const TraceEvent& event) {
            result.events.push_back({event.kind, event.time, CaptureReading::Id(event.processId),
                                     CaptureReading::Id(event.threadId), event.stackId, event.data8,
                                     event.data64[0]});
        });
        return result;
    }

    std::string Fold(const Imported& imported, const FoldOptions& options = {})
    {
        std::string text;
        Serialization::ErrorList errors;
        EXPECT_TRUE(CaptureStackFolder::Fold(*imported.session, options, text, errors)) << errors.ToString();
        return text;
    }

    TestSupport::TempDirectory mDirectory;
    int mCount = 0;
};

// A program whose main thread starts a worker that renames itself, blocks on a lock, is woken,
// and exits.
const std::string kThreadLife = R"(app 100/100 1.000000: PERF_RECORD_COMM exec: app:100/100
app 100/100 1.100000: PERF_RECORD_FORK(100:101):(100:100)

app 100/100 [000] 1.200000: 1000000 cpu-clock:
	1010 main+0x10 (/usr/bin/app)
	2000 _start (/usr/bin/app)

app 100/101 1.300000: PERF_RECORD_COMM: worker:100/101

worker 100/101 [001] 1.400000: 1000000 cpu-clock:
	1100 work+0x4 (/usr/bin/app)
	3000 start_thread (/usr/lib/libc.so.6)

worker 100/101 [001] 1.500000: 1 sched:sched_switch: prev_comm=worker prev_pid=101 prev_prio=120 prev_state=S ==> next_comm=app next_pid=100 next_prio=120
	ffffffff81000100 __schedule+0x10 ([kernel.kallsyms])
	ffffffff81000200 futex_wait+0x20 ([kernel.kallsyms])
	3100 pthread_mutex_lock+0x5 (/usr/lib/libc.so.6)
	1100 work+0x4 (/usr/bin/app)
	3000 start_thread (/usr/lib/libc.so.6)

app 100/100 [001] 1.600000: 1 sched:sched_switch: prev_comm=app prev_pid=100 prev_prio=120 prev_state=R+ ==> next_comm=worker next_pid=101 next_prio=120
	ffffffff81000100 __schedule+0x10 ([kernel.kallsyms])
	1010 main+0x10 (/usr/bin/app)

worker 100/101 [001] 1.700000: 1 sched:sched_switch: prev_comm=worker prev_pid=101 prev_prio=120 prev_state=D ==> next_comm=app next_pid=100 next_prio=120
	ffffffff81000300 io_schedule+0x8 ([kernel.kallsyms])
	1100 work+0x4 (/usr/bin/app)

worker 100/101 [001] 1.800000: 1 sched:sched_switch: prev_comm=worker prev_pid=101 prev_prio=120 prev_state=T ==> next_comm=app next_pid=100 next_prio=120
	ffffffff81000400 do_nanosleep+0x8 ([kernel.kallsyms])

worker 100/101 1.900000: PERF_RECORD_EXIT(100:101):(100:100)
)";

TEST_F(PerfCaptureImporterTest, ThreadsAndProcessesTakeNamesAndTimesFromTaskRecords)
{
    const Imported imported = Import(kThreadLife);
    ASSERT_TRUE(imported.session);
    const Process* process = imported.session->FindProcess(100);
    ASSERT_TRUE(process);
    EXPECT_EQ(process->mName, "app");
    const Thread* main = imported.session->FindThread(100);
    const Thread* worker = imported.session->FindThread(101);
    ASSERT_TRUE(main && worker);
    EXPECT_EQ(main->mThreadName, "app");
    EXPECT_EQ(worker->mThreadName, "worker");       // the latest comm
    EXPECT_DOUBLE_EQ(worker->mStartTimeMs, 1100.0); // fork
    EXPECT_DOUBLE_EQ(worker->mEndTimeMs, 1900.0);   // exit
    const auto* history = dynamic_cast<const LinuxPlatformSession*>(imported.session->GetPlatformSession());
    ASSERT_TRUE(history);
    EXPECT_EQ(history->GetThreadName(101, 1200.0), "app"); // inherited from the parent until renamed
    EXPECT_EQ(history->GetThreadName(101, 1300.0), "worker");
    EXPECT_EQ(imported.stats.threads, 2u);
    EXPECT_EQ(imported.stats.processes, 1u);
    EXPECT_EQ(imported.stats.samples, 2u);
}

TEST_F(PerfCaptureImporterTest, SwitchesOutCarryWaitReasonsAndExitEndsTheThreadOnce)
{
    const Imported imported = Import(kThreadLife);
    ASSERT_TRUE(imported.session);
    EXPECT_THAT(imported.Reasons(101),
                ElementsAre(PerfWaitReasonMapper::kReasonSynchronization, PerfWaitReasonMapper::kReasonIO,
                            PerfWaitReasonMapper::kReasonSleep, PerfWaitReasonMapper::kReasonThreadEnd));
    EXPECT_THAT(imported.Reasons(100), ElementsAre(PerfWaitReasonMapper::kReasonPreemption));

    // A thread that dies on the CPU (prev_state X) is not ended a second time by its exit record.
    const Imported dead = Import(R"(app 7/8 [000] 1.000000: 1 cpu-clock:
	1010 main (/usr/bin/app)

app 7/8 [000] 2.000000: 1 sched:sched_switch: prev_comm=app prev_pid=8 prev_prio=120 prev_state=X ==> next_comm=swapper/0 next_pid=0 next_prio=120

app 7/8 2.100000: PERF_RECORD_EXIT(7:8):(7:7)
)");
    ASSERT_TRUE(dead.session);
    EXPECT_THAT(dead.Reasons(8), ElementsAre(PerfWaitReasonMapper::kReasonThreadEnd));
    EXPECT_EQ(dead.stats.threadEnds, 1u);

    // perf's own switch record follows the tracepoint's and keeps its reason; where the
    // tracepoint's record was lost, perf's own still switches the thread out.
    const Imported lost = Import(R"(app 7/8 [000] 1.000000: 1 cpu-clock:
	1010 main (/usr/bin/app)

app 7/8 [000] 1.100000: 1 sched:sched_switch: prev_comm=app prev_pid=8 prev_prio=120 prev_state=D ==> next_comm=swapper/0 next_pid=0 next_prio=120
app 7/8 1.100010: PERF_RECORD_SWITCH OUT
app 7/8 1.200000: PERF_RECORD_SWITCH IN
app 7/8 1.300000: PERF_RECORD_SWITCH OUT preempt
app 7/8 1.400000: PERF_RECORD_SWITCH IN
app 7/8 [000] 1.500000: 1 cpu-clock:
	1010 main (/usr/bin/app)

)");
    ASSERT_TRUE(lost.session);
    EXPECT_THAT(lost.Times(ETraceEventKind::ContextSwitchOut, 8), ElementsAre(1100.0, 1300.0));
    EXPECT_THAT(lost.Reasons(8),
                ElementsAre(PerfWaitReasonMapper::kReasonIO, PerfWaitReasonMapper::kReasonPreemption));
}

TEST_F(PerfCaptureImporterTest, SwitchInCarriesTheUserPartOfTheBlockedStack)
{
    const Imported imported = Import(kThreadLife);
    ASSERT_TRUE(imported.session);
    const auto in = imported.Of(ETraceEventKind::ContextSwitchIn, 101);
    // Woken at 1.6 by the main thread's switch; no record shows it coming back after it blocked
    // at 1.7, but its own switch-out at 1.8 proves it ran: that switch-in is inferred.
    EXPECT_THAT(imported.Times(ETraceEventKind::ContextSwitchIn, 101), ElementsAre(1600.0, 1800.0));
    ASSERT_EQ(in.size(), 2u);
    EXPECT_EQ(imported.stats.inferredSwitchIns, 1u);
    EXPECT_THAT(imported.StackNames(100, in[0].stackId),
                ElementsAre("start_thread", "work", "pthread_mutex_lock"));
    // The main thread runs at 1.5, so the switch naming it next is no switch-in; the first one
    // comes after it was preempted in main.
    const auto mainIn = imported.Of(ETraceEventKind::ContextSwitchIn, 100);
    ASSERT_FALSE(mainIn.empty());
    EXPECT_DOUBLE_EQ(mainIn[0].time, 1700.0);
    EXPECT_THAT(imported.StackNames(100, mainIn[0].stackId), ElementsAre("main"));
}

TEST_F(PerfCaptureImporterTest, WithoutSwitchRecordsAThreadWhoseClockSamplesStopWaits)
{
    // Thread 8 runs throughout (a sample every millisecond); thread 9 is sampled at 1.000 and
    // again at 1.010 only, so it ran for about two of those ten milliseconds.
    std::string text;
    auto sample = [&text](int thread, int microseconds) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "app 7/%d [000] 1.%06d: 1000000 cpu-clock:\n\t1010 main (/usr/bin/app)\n\n", thread,
                      microseconds);
        text += line;
    };
    for (int at = 0; at <= 10000; at += 1000) {
        sample(8, at);
        if (at == 0 || at == 10000)
            sample(9, at);
    }
    const Imported imported = Import(text);
    ASSERT_TRUE(imported.session);
    EXPECT_TRUE(imported.Of(ETraceEventKind::ContextSwitchOut, 8).empty());
    const auto out = imported.Of(ETraceEventKind::ContextSwitchOut, 9);
    EXPECT_THAT(imported.Reasons(9), ElementsAre(PerfWaitReasonMapper::kReasonIdle));
    ASSERT_EQ(out.size(), 1u);
    // One interval after its sample at best; events are written in time order, so no earlier
    // than the record before the one that showed the gap.
    EXPECT_GE(out[0].time, 1001.0);
    EXPECT_LE(out[0].time, 1003.0);
    const auto in = imported.Of(ETraceEventKind::ContextSwitchIn, 9);
    ASSERT_EQ(in.size(), 1u);
    // Its next sample counts the interval before it (or from the record before, in time order).
    EXPECT_GE(in[0].time, 1009.0);
    EXPECT_LE(in[0].time, 1010.0);
    EXPECT_EQ(imported.stats.sampleGapWaits, 1u);
    EXPECT_EQ(imported.stats.samples, 13u);

    // A recording with context switches says itself when threads wait.
    text =
        "app 7/8 1.000500: PERF_RECORD_SWITCH OUT preempt\napp 7/8 1.000600: PERF_RECORD_SWITCH IN\n" + text;
    const Imported switched = Import(text);
    ASSERT_TRUE(switched.session);
    EXPECT_EQ(switched.stats.sampleGapWaits, 0u);
    EXPECT_TRUE(switched.Of(ETraceEventKind::ContextSwitchOut, 9).empty());
}

TEST_F(PerfCaptureImporterTest, ASampleWithoutFramesKeepsItsPlaceUnderUnknown)
{
    const Imported imported =
        Import("app 7/8 [000] 1.000000: 1000000 cpu-clock:\n\n"
               "app 7/8 [000] 1.001000: 1000000 cpu-clock:\n\t1010 main (/usr/bin/app)\n\n");
    ASSERT_TRUE(imported.session);
    const auto samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_THAT(imported.StackNames(7, samples[0].stackId), ElementsAre("Unknown"));
    // Folded as perf printed it: the command name alone.
    EXPECT_EQ(Fold(imported), "app 1000000\napp;main 1000000\n");
}

TEST_F(PerfCaptureImporterTest, SamplesWithoutTimestampsArePlacedOneClockPeriodApart)
{
    const Imported imported = Import(R"(node 31912 2500000 cpu-clock:
	dd777 v8::Call(v8::Isolate*, bool) (/tmp/node)

node 31912 2500000 cpu-clock:
	dd777 v8::Call(v8::Isolate*, bool) (/tmp/node)

node 31912 2500000 cpu-clock:
	dd700 v8::Run (/tmp/node)
)");
    ASSERT_TRUE(imported.session);
    EXPECT_TRUE(imported.stats.syntheticTimes);
    EXPECT_DOUBLE_EQ(imported.session->GetSampleIntervalMs(), 2.5);
    // The last record is not closed by a blank line and is left out, as the folding tools do.
    EXPECT_THAT(imported.Times(ETraceEventKind::Sample), ElementsAre(0.0, 2.5));
    // Without a process id the thread is a process of its own, printed as "?".
    EXPECT_EQ(Fold(imported, *FoldOptions::FromFlag("tid")), "node-?/31912;v8::Call 5000000\n");

    PerfImportOptions options;
    options.intervalMs = 4.0;
    const Imported explicitInterval =
        Import("x 5 cycles:\n\t10 f (/bin/x)\n\nx 5 cycles:\n\t10 f (/bin/x)\n\n", options);
    ASSERT_TRUE(explicitInterval.session);
    EXPECT_DOUBLE_EQ(explicitInterval.session->GetSampleIntervalMs(), 4.0);
    EXPECT_DOUBLE_EQ(explicitInterval.Of(ETraceEventKind::Sample).back().time, 4.0);

    // Each placed sample stands for one interval of its thread, whatever the event (here none):
    // a thread whose samples the others' come between waits in the meantime.
    std::string interleaved = "a 1 \n\t10 f (/bin/a)\n\n";
    for (int i = 0; i < 4; ++i)
        interleaved += "b 2 \n\t20 g (/bin/b)\n\n";
    interleaved += "a 1 \n\t10 f (/bin/a)\n\n";
    const Imported placed = Import(interleaved);
    ASSERT_TRUE(placed.session);
    EXPECT_THAT(placed.Times(ETraceEventKind::Sample, 1), ElementsAre(0.0, 5.0));
    // (Events are written in time order: the wait starts at the record after the gap was seen.)
    EXPECT_THAT(placed.Times(ETraceEventKind::ContextSwitchOut, 1), ElementsAre(2.0));
}

TEST_F(PerfCaptureImporterTest, OneModulePerDsoAndProcessInTheirAddressModes)
{
    // One library at the same printed (relative) address in two programs, and the kernel.
    const Imported imported = Import(R"(a 1/1 [000] 1.0: 1 cpu-clock:
	ffffffff81000010 do_syscall_64+0x10 ([kernel.kallsyms])
	2010 helper+0x10 (/usr/lib/libx.so)
	1000 main (/bin/a)

b 2/2 [000] 2.0: 1 cpu-clock:
	2010 other+0x8 (/usr/lib/libx.so)
	1000 main (/bin/b)
)"
                                     "\n");
    ASSERT_TRUE(imported.session);
    const ModuleDatabase& modules = imported.session->GetModuleDatabase();
    int libx = 0;
    for (const auto& module : modules.GetNativeModules()) {
        if (module->mPath == "/usr/lib/libx.so") {
            ++libx;
            EXPECT_FALSE(module->IsAbsolute());
            EXPECT_EQ(module->mName, "libx.so");
        }
        if (module->mPath == "[kernel.kallsyms]") {
            EXPECT_TRUE(module->IsAbsolute());
        }
    }
    EXPECT_EQ(libx, 2);
    EXPECT_EQ(imported.stats.modules, 5u);
    // The same printed address means a different function in each program.
    const auto samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_THAT(imported.StackNames(1, samples[0].stackId), ElementsAre("main", "helper", "do_syscall_64"));
    EXPECT_THAT(imported.StackNames(2, samples[1].stackId), ElementsAre("main", "other"));
    EXPECT_EQ(Fold(imported, *FoldOptions::FromFlag("kernel")),
              "a;main;helper;do_syscall_64_[k] 1\nb;main;other 1\n");
}

TEST_F(PerfCaptureImporterTest, UnknownAddressesFormOneFunctionPerRangeBetweenNamedOnes)
{
    const Imported imported = Import(R"(p 1/1 [000] 1.0: 1 cpu-clock:
	1100 [unknown] (/bin/p)
	1200 [unknown] (/bin/p)
	1000 main+0x0 (/bin/p)

p 1/1 [000] 2.0: 1 cpu-clock:
	1300 known+0x4 (/bin/p)
	1400 [unknown] (/bin/p)
	1000 main (/bin/p)

p 1/1 [000] 3.0: 1 cpu-clock:
	7f0000001000 [unknown] ([unknown])
	1000 main (/bin/p)
)"
                                     "\n");
    ASSERT_TRUE(imported.session);
    std::vector<std::pair<uint64_t, uint64_t>> unknownRanges;
    for (const auto& module : imported.session->GetModuleDatabase().GetNativeModules())
        for (const Function& function : module->mFunctions)
            if (function.mName.starts_with("[p"))
                unknownRanges.emplace_back(function.mRelativeAddress, function.mSize);
    // 0x1100 and 0x1200 are one range; 0x1400 lies beyond the named function at 0x12fc.
    EXPECT_THAT(unknownRanges, testing::UnorderedElementsAre(std::pair<uint64_t, uint64_t>{0x1100, 0x101},
                                                             std::pair<uint64_t, uint64_t>{0x1400, 1}));
    const auto samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 3u);
    // Distinct ranges read apart in the views; folding still names them after the module.
    EXPECT_THAT(imported.StackNames(1, samples[1].stackId), ElementsAre("main", "[p+0x1400]", "known"));
    // A frame in no module keeps its printed address and stays unknown.
    EXPECT_EQ(
        Fold(imported, *FoldOptions::FromFlag("addrs")),
        "p;main;[p <1200>];[p <1100>] 1\np;main;[p <1400>];known 1\np;main;[unknown <7f0000001000>] 1\n");
}

TEST_F(PerfCaptureImporterTest, MalformedInputKeepsValidRecordsAndReportsTheFirstBadLine)
{
    const Imported imported = Import(R"(a 1/1 [000] 1.0: 5 cpu-clock:
	1000 main (/bin/a)

this is not a record header
a 1/1 [000] 2.0: 5 cpu-clock:
	1000 main (/bin/a)
	not a frame

a 1/1 [000] 3.0: 7 cpu-clock:
	1000 main (/bin/a)

)");
    ASSERT_TRUE(imported.session);
    EXPECT_EQ(imported.stats.samples, 2u);
    EXPECT_THAT(imported.problems, testing::StartsWith("line 4:"));
    EXPECT_EQ(Fold(imported), "a;main 12\n");
}

TEST_F(PerfCaptureImporterTest, ImportsTheChosenEventOnlyWithItsWeights)
{
    const std::string text = R"(a 1/1 [000] 1.0: 100 cycles:
	1000 main (/bin/a)

a 1/1 [000] 2.0: 300 instructions:
	1010 loop (/bin/a)

a 1/1 [000] 3.0: 0 cycles:
	1000 main (/bin/a)

)";
    const Imported first = Import(text);
    ASSERT_TRUE(first.session);
    EXPECT_EQ(first.stats.eventName, "cycles");
    EXPECT_EQ(first.stats.otherSamples, 1u);
    EXPECT_EQ(Fold(first), "a;main 101\n"); // a zero period weighs 1, as in the folding tools

    PerfImportOptions options;
    options.eventName = "instructions";
    const Imported chosen = Import(text, options);
    ASSERT_TRUE(chosen.session);
    EXPECT_EQ(Fold(chosen), "a;loop 300\n");
}

TEST_F(PerfCaptureImporterTest, RefusesANonEmptyCaptureDirectoryAndAnUnreadableInput)
{
    const std::filesystem::path existing = mDirectory / "existing";
    std::filesystem::create_directories(existing);
    TestSupport::WriteFile(existing / "keep.txt", "precious");
    PerfImportStats stats;
    std::string problems;
    Serialization::ErrorList errors;
    EXPECT_FALSE(PerfCaptureImporter::Import((mDirectory / "missing.txt").string(), mDirectory / "new", {},
                                             stats, problems, errors));
    EXPECT_FALSE(std::filesystem::exists(mDirectory / "new"));
    Serialization::ErrorList refused;
    EXPECT_FALSE(PerfCaptureImporter::Import((mDirectory / "missing.txt").string(), existing, {}, stats,
                                             problems, refused));
    ASSERT_FALSE(refused.IsEmpty());
    EXPECT_THAT(refused.GetErrors().front().message, testing::HasSubstr("not an empty directory"));
    EXPECT_EQ(TestSupport::ReadFile(existing / "keep.txt"), "precious");
}

TEST_F(PerfCaptureImporterTest, InlinedFramesAreFramesOfTheirOwn)
{
    // Two inline levels at the address of `work`, as perf prints them with DWARF call graphs;
    // `helper` is inlined at two call sites and stays one function.
    const Imported imported = Import(R"(app 100/100 [000] 1.000000: 1000000 cpu-clock:
	1100 helper+0x4 (inlined)
	1100 inner_helper+0x4 (inlined)
	1100 work+0x4 (/usr/bin/app)
	2000 _start (/usr/bin/app)

app 100/100 [000] 1.001000: 1000000 cpu-clock:
	1200 helper+0x4 (inlined)
	1200 other+0x10 (/usr/bin/app)
	2000 _start (/usr/bin/app)

)");
    ASSERT_TRUE(imported.session);
    const std::vector<StoredEvent> samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_THAT(imported.StackNames(100, samples[0].stackId),
                ElementsAre("_start", "work", "inner_helper", "helper"));
    EXPECT_THAT(imported.StackNames(100, samples[1].stackId), ElementsAre("_start", "other", "helper"));
    EXPECT_EQ(imported.stats.inlineFrames, 3u);
    int helpers = 0;
    for (const auto& module : imported.session->GetModuleDatabase().GetNativeModules())
        for (const Function& function : module->mFunctions)
            helpers += function.mName == "helper";
    EXPECT_EQ(helpers, 1);
}

TEST_F(PerfCaptureImporterTest, ReusedJitCodeTakesItsNewNameFromThatTimeOn)
{
    // The same absolute address of a perf map names one function, then another.
    const Imported imported = Import(R"(node 7/7 1.000: 1000000 cpu-clock:
	7f0000001000 LazyCompile:~first (/tmp/perf-7.map)

node 7/7 1.001: 1000000 cpu-clock:
	7f0000001000 LazyCompile:~first (/tmp/perf-7.map)

node 7/7 1.002: 1000000 cpu-clock:
	7f0000001000 LazyCompile:~second (/tmp/perf-7.map)

)");
    ASSERT_TRUE(imported.session);
    const std::vector<StoredEvent> samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_THAT(imported.StackNames(7, samples[0].stackId, samples[0].time),
                ElementsAre("LazyCompile:~first"));
    EXPECT_THAT(imported.StackNames(7, samples[1].stackId, samples[1].time),
                ElementsAre("LazyCompile:~first"));
    EXPECT_THAT(imported.StackNames(7, samples[2].stackId, samples[2].time),
                ElementsAre("LazyCompile:~second"));
    EXPECT_EQ(imported.stats.codeChanges, 1u);
}

TEST_F(PerfCaptureImporterTest, OneLineRecordsImportCompletelyAndUnknownProcessesStayApart)
{
    // `perf record` without -g: one right-aligned line per sample, no blank lines, no process id.
    const Imported imported =
        Import("              xz  2879  4066.869662:     250000 cpu-clock:      7f91fcec64a2 "
               "init_cpu_features+0xe12 (/usr/lib/ld.so)\n"
               "              xz  2879  4066.869912:     250000 cpu-clock:      7f91fcec6000 "
               "_dl_start (/usr/lib/ld.so)\n"
               "         swapper     0  4066.870000:     250000 cpu-clock:  ffffffff8104f45a "
               "native_write_msr+0x5 ([kernel.kallsyms])");
    ASSERT_TRUE(imported.session);
    EXPECT_EQ(imported.stats.samples, 3u);
    const auto samples = imported.Of(ETraceEventKind::Sample);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_THAT(imported.StackNames(samples[1].process, samples[1].stackId), ElementsAre("_dl_start"));
    // Thread 0 has no process id either; its unknown process is neither -1 (perf's "no task")
    // nor the one of thread 2879.
    EXPECT_NE(samples[0].process, samples[2].process);
    EXPECT_TRUE(PerfCaptureImporter::IsUnknownProcessId(samples[2].process));
    EXPECT_NE(samples[2].process, -1);

    // The all-ones address is the capture's "unknown code"; a named frame there keeps its name.
    const Imported allOnes =
        Import("app 1/1 1.0: 1000000 cpu-clock:\n\tffffffffffffffff weird ([kernel.kallsyms])\n"
               "\t1000 main (/bin/app)\n\n");
    ASSERT_TRUE(allOnes.session);
    const auto allOnesSamples = allOnes.Of(ETraceEventKind::Sample);
    ASSERT_EQ(allOnesSamples.size(), 1u);
    EXPECT_THAT(allOnes.StackNames(1, allOnesSamples[0].stackId), ElementsAre("main", "weird"));
}

TEST_F(PerfCaptureImporterTest, ARecordingAfterAnotherIsPlacedAfterItAndSaidSo)
{
    auto sample = [](const char* time) {
        return std::string("app 1/1 ") + time + ": 1000000 cpu-clock:\n\t1000 main (/bin/app)\n\n";
    };
    // The capture takes the reorderer's times (its own tests cover outliers and pauses on a real
    // recording): two recordings one after another keep the second's spacing after the first.
    const Imported concatenated =
        Import(sample("100.000") + sample("100.002") + sample("5.000") + sample("5.003"));
    ASSERT_TRUE(concatenated.session);
    EXPECT_THAT(concatenated.Times(ETraceEventKind::Sample),
                ElementsAre(100000.0, 100002.0, 100002.0, 100005.0));
    EXPECT_EQ(concatenated.stats.order.concatenatedRecordings, 1u);
    EXPECT_THAT(PerfCaptureImporter::DescribeStats(concatenated.stats),
                testing::HasSubstr("several recordings"));
}

TEST_F(PerfCaptureImporterTest, ImportingOnASecondThreadWritesTheSameCapture)
{
    // Two recordings one after another (context switches, task records, many batches of
    // records), then a stack larger than a batch.
    std::string text = SharedRecordings::ReadText(SharedRecordings::Recording("linux-python-switches")) +
                       SharedRecordings::ReadText(SharedRecordings::Recording("linux-systemwide-memfd"));
    text += "app 1/1 [000] 99999.000000: 1000000 cpu-clock:\n";
    for (int i = 0; i < 400; ++i)
        text += "\t" + std::to_string(0x1000 + i) + " f" + std::to_string(i) + std::string(1000, 'x') + " (/bin/app)\n";
    text += "\n";

    auto import = [&](bool pipelined) {
        const std::filesystem::path capture = mDirectory / (pipelined ? "pipelined" : "direct") / "capture";
        PerfImportStats stats;
        std::string problems;
        Serialization::ErrorList errors;
        EXPECT_TRUE(PerfCaptureImporter::Import(
            [&text](PerfScriptParser& parser, Serialization::ErrorList&) {
                // Slices of any size, as a reader hands them on.
                for (std::size_t at = 0; at < text.size(); at += 100000)
                    parser.Feed(std::string_view(text).substr(at, 100000));
                parser.Finish();
                return true;
            },
            capture, {}, stats, problems, errors, pipelined))
            << errors.ToString();
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(capture))
            if (entry.is_regular_file())
                files[std::filesystem::relative(entry.path(), capture).string()] =
                    TestSupport::ReadFile(entry.path());
        return std::pair(files, PerfCaptureImporter::DescribeStats(stats));
    };
    const auto direct = import(false);
    const auto pipelined = import(true);
    EXPECT_GE(direct.first.size(), 5u);
    EXPECT_TRUE(direct.first == pipelined.first) << "the captures differ";
    EXPECT_EQ(direct.second, pipelined.second);
}

} // namespace
