#include "CaptureReading.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "SharedRecordings.h"
#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

// No sample may be lost between the text and the capture: the import keeps every sample of the
// chosen event, and no sample lands while its thread is switched out (the call graph leaves such
// samples out), whatever switch records the text lacks.

namespace {

using namespace Profiler;

/// Counts the samples of the first event, the way the import chooses it.
class SampleCounter : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override
    {
        if (!mChosen) {
            mChosen = true;
            mEvent = sample.eventName;
        }
        count += sample.eventName == mEvent;
    }
    uint64_t count = 0;

private:
    bool mChosen = false;
    std::string mEvent;
};

struct CaptureReplay {
    uint64_t samples = 0;
    uint64_t samplesWhileSwitchedOut = 0;
    std::map<int32_t, double> executingMs; ///< per thread, from its first to its last event
    std::map<int32_t, double> spanMs;
    std::map<std::string, int32_t> threadByName;
};

/// Replays a capture's event stream with each thread's switch state.
CaptureReplay Replay(const std::filesystem::path& capture)
{
    CaptureReplay replay;
    const std::unique_ptr<Session> session = CaptureReading::Load(capture);
    if (!session)
        return replay;
    for (const Thread& thread : session->GetThreadList())
        replay.threadByName[thread.mThreadName] = thread.mThreadID;
    struct ThreadState {
        bool running = true;
        double since = 0.0;
        double first = 0.0;
        bool seen = false;
    };
    std::map<int32_t, ThreadState> threads;
    double last = 0.0;
    CaptureReading::ForEachEvent(*session, [&](const TraceEvent& event) {
        const int32_t threadId = CaptureReading::Id(event.threadId);
        ThreadState& thread = threads[threadId];
        if (!thread.seen) {
            thread.seen = true;
            thread.first = thread.since = event.time;
        }
        last = event.time;
        switch (event.kind) {
        case ETraceEventKind::Sample:
            ++replay.samples;
            replay.samplesWhileSwitchedOut += !thread.running;
            break;
        case ETraceEventKind::ContextSwitchOut:
            if (thread.running)
                replay.executingMs[threadId] += event.time - thread.since;
            thread.running = false;
            break;
        case ETraceEventKind::ContextSwitchIn:
            if (!thread.running)
                thread.since = event.time;
            thread.running = true;
            break;
        default:
            break;
        }
    });
    for (auto& [id, thread] : threads) {
        if (thread.running)
            replay.executingMs[id] += last - thread.since;
        replay.spanMs[id] = last - thread.first;
    }
    return replay;
}

void ExpectEverySampleKept(const std::filesystem::path& input, const std::filesystem::path& capture,
                           PerfImportStats& stats)
{
    SampleCounter counter;
    PerfScriptParser parser(counter);
    Serialization::ErrorList errors;
    ASSERT_TRUE(PerfScriptReader::Read(input.string(), parser, errors)) << errors.ToString();

    std::string problems;
    ASSERT_TRUE(PerfCaptureImporter::Import(input.string(), capture, {}, stats, problems, errors))
        << errors.ToString();
    EXPECT_EQ(stats.samples, counter.count);
    const CaptureReplay replay = Replay(capture);
    EXPECT_EQ(replay.samples, counter.count);
    EXPECT_EQ(replay.samplesWhileSwitchedOut, 0u);
}

TEST(SampleInvariant, EverySampleOfEveryRecordingReachesTheCapture)
{
    TestSupport::TempDirectory directory;
    for (const std::string& name : SharedRecordings::kNames) {
        SCOPED_TRACE(name);
        PerfImportStats stats;
        ExpectEverySampleKept(SharedRecordings::Recording(name), directory / name, stats);
    }
}

TEST(SampleInvariant, TheDemoKeepsEverySampleAndItsComputeThreadMostlyExecutes)
{
    TestSupport::TempDirectory directory;
    PerfImportStats stats;
    ExpectEverySampleKept(QX_DEMO_RECORDING, directory / "demo", stats);
    EXPECT_GT(stats.switchRecords, 0u) << "the demo is recorded with perf's own switch records";

    const CaptureReplay replay = Replay(directory / "demo");
    // The compute thread is the demo's CPU-bound one; it was recorded on a machine without
    // other load, so it spends most of its life on the CPU.
    ASSERT_TRUE(replay.threadByName.contains("compute"));
    const int32_t compute = replay.threadByName.at("compute");
    EXPECT_GT(replay.executingMs.at(compute), 0.8 * replay.spanMs.at(compute));
}

} // namespace
