#include "CaptureModelTestSupport.h"

#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/SyntheticCaptureGenerator.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace Profiler;
using TestSupport::LoadSession;

TEST(CaptureWriter, WritesOnlyIntoNewOrEmptyDirectoriesAndOnlyEventsInTimeOrder)
{
    TestSupport::TempDirectory temp;
    Serialization::ErrorList errors;
    std::filesystem::create_directories(temp / "occupied");
    TestSupport::WriteFile(temp / "occupied" / "keep.txt", "precious");
    CaptureWriter occupied;
    EXPECT_FALSE(occupied.Open(temp / "occupied", TestSupport::CaptureModelRegistry(), errors));
    EXPECT_NE(errors.ToString().find("is not empty"), std::string::npos);
    EXPECT_EQ(TestSupport::ReadFile(temp / "occupied" / "keep.txt"), "precious");
    EXPECT_FALSE(occupied.Finish(errors));

    TestSupport::WriteFile(temp / "file", "x");
    CaptureWriter onFile;
    EXPECT_FALSE(onFile.Open(temp / "file", TestSupport::CaptureModelRegistry(), errors));

    std::filesystem::create_directories(temp / "empty");
    CaptureWriter empty;
    ASSERT_TRUE(empty.Open(temp / "empty", TestSupport::CaptureModelRegistry(), errors)) << errors.ToString();
    ASSERT_TRUE(empty.Finish(errors)) << errors.ToString();
    EXPECT_FALSE(empty.Finish(errors));
    EXPECT_EQ(errors.GetErrors().back().message, "The capture was finished already");
    EXPECT_FALSE(empty.AddSample(1.0, 1, 1, 0));

    // An empty capture loads.
    auto loaded = LoadSession(empty.GetSessionPath());
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    EXPECT_TRUE(loaded.session->GetThreadList().empty());
    EXPECT_EQ(loaded.session->GetTraceEventStream()->GetNumEvents(), 0u);

    CaptureWriter nested;
    EXPECT_TRUE(nested.Open(temp / "a" / "b" / "c", TestSupport::CaptureModelRegistry(), errors));
    EXPECT_EQ(nested.GetSessionPath(), temp / "a" / "b" / "c" / "c.session");

    // Events out of time order are refused.
    CaptureWriter writer;
    ASSERT_TRUE(writer.Open(temp / "order", TestSupport::CaptureModelRegistry(), errors));
    EXPECT_TRUE(writer.AddSample(2.0, 1, 1, 0));
    EXPECT_TRUE(writer.AddSample(2.0, 1, 2, 0));
    EXPECT_FALSE(writer.AddSample(1.0, 1, 1, 0));
    EXPECT_FALSE(writer.AddSwitchOut(std::nan(""), 1, 1, 4));
    TraceEvent marker;
    marker.time = 3.0;
    EXPECT_FALSE(writer.AddEvent(marker)); // the end marker is not an event
    EXPECT_TRUE(writer.AddThreadEnd(3.0, 1, 1));
    EXPECT_EQ(writer.GetEventCount(), 3u);
    EXPECT_EQ(writer.GetRefusedEventCount(), 3u);
    ASSERT_TRUE(writer.Finish(errors)) << errors.ToString();
    loaded = LoadSession(writer.GetSessionPath());
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    EXPECT_EQ(TestSupport::ReadAllEvents(*loaded.session).size(), 3u);
    // Threads met only through events exist, named by nobody.
    ASSERT_EQ(loaded.session->GetThreadList().size(), 2u);
    EXPECT_EQ(loaded.session->FindThread(2)->mStartTimeMs, 2.0);
}

TEST(CaptureWriter, EveryEventKindSurvivesAndChunksAreCutByCount)
{
    TestSupport::TempDirectory temp;
    Serialization::ErrorList errors;
    CaptureWriter writer;
    CaptureWriter::Options options;
    options.eventsPerChunk = 10;
    ASSERT_TRUE(writer.Open(temp / "kinds", TestSupport::CaptureModelRegistry(), options, errors));
    std::vector<TraceEvent> written;
    for (int round = 0; round < 2; ++round)
        for (const TraceEvent& event : TestSupport::MakeEventOfEveryKind(round * 10.0, 3, 4)) {
            ASSERT_TRUE(writer.AddEvent(event)) << static_cast<int>(event.kind);
            written.push_back(event);
        }
    ASSERT_TRUE(writer.Finish(errors)) << errors.ToString();

    auto loaded = LoadSession(writer.GetSessionPath());
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    EXPECT_EQ(loaded.session->GetTraceEventStream()->GetChunks().size(), 4u); // 36 events, 10 per chunk
    // Strings point into the reader's chunk, so each event is compared as it is read.
    TraceEventStreamReader reader(*loaded.session->GetTraceEventStream());
    reader.SetZonesEnabled(true);
    std::size_t count = 0;
    TraceEvent event;
    while (reader.Next(event)) {
        ASSERT_LT(count, written.size());
        EXPECT_EQ(TestSupport::DescribeDifference(written[count], event), "") << count;
        ++count;
    }
    EXPECT_EQ(count, written.size());
}

TEST(CaptureWriter, ModulesPlacedAtOwnBasesKeepRelativeAddressesApart)
{
    // Two libraries print the same module-relative address; each gets its own base.
    TestSupport::TempDirectory temp;
    Serialization::ErrorList errors;
    CaptureWriter writer;
    ASSERT_TRUE(writer.Open(temp / "bases", TestSupport::CaptureModelRegistry(), errors));
    const uint32_t first = writer.AddNativeModule("libfirst.so", "/lib/libfirst.so", 0x7FFFFFFF);
    const uint32_t second = writer.AddNativeModule("libsecond.so", "/lib/libsecond.so", 0x7FFFFFFF);
    const uint64_t firstBase = writer.AllocateModuleBase(5);
    const uint64_t secondBase = writer.AllocateModuleBase(5);
    EXPECT_EQ(writer.AllocateModuleBase(6), firstBase);
    EXPECT_GE(secondBase - firstBase, uint64_t{1} << 32);
    writer.AddModuleInstance(first, 5, firstBase);
    writer.AddModuleInstance(second, 5, secondBase);
    writer.AddFunction(first, 0x1000, 0x10, "inFirst");
    writer.AddFunction(second, 0x1000, 0x10, "inSecond");
    const uint64_t a = writer.AddStack(std::vector<uint64_t>{firstBase + 0x1004});
    const uint64_t b = writer.AddStack(std::vector<uint64_t>{secondBase + 0x1004});
    EXPECT_NE(a, b);
    writer.AddSample(0.0, 5, 5, a);
    writer.AddSample(1.0, 5, 5, b);
    ASSERT_TRUE(writer.Finish(errors)) << errors.ToString();

    auto loaded = LoadSession(writer.GetSessionPath());
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    std::vector<ResolvedFrame> frames;
    ASSERT_TRUE(loaded.session->ResolveStack(5, a, 0.0, frames));
    EXPECT_EQ(loaded.session->GetModuleDatabase().GetFunctionName(frames[0].Function), "inFirst");
    ASSERT_TRUE(loaded.session->ResolveStack(5, b, 1.0, frames));
    EXPECT_EQ(loaded.session->GetModuleDatabase().GetFunctionName(frames[0].Function), "inSecond");
}

TEST(SyntheticCaptureGenerator, SameSeedSameCaptureAndUnrootedStacksBecomeRanges)
{
    TestSupport::TempDirectory temp;
    SyntheticCaptureGenerator::Parameters parameters;
    parameters.threadCount = 5;
    parameters.processCount = 2;
    parameters.durationMs = 300.0;
    parameters.unrootedFraction = 0.2;
    Serialization::ErrorList errors;
    SyntheticCaptureGenerator::Summary first;
    SyntheticCaptureGenerator::Summary second;
    ASSERT_TRUE(SyntheticCaptureGenerator(parameters)
                    .Generate(temp / "one", TestSupport::CaptureModelRegistry(), first, errors))
        << errors.ToString();
    ASSERT_TRUE(SyntheticCaptureGenerator(parameters)
                    .Generate(temp / "two", TestSupport::CaptureModelRegistry(), second, errors));
    EXPECT_EQ(first.events, second.events);
    EXPECT_GT(first.samples, 5u * 250u);
    for (const char* file : {"events.dat", "CallstackDatabase.dat", "stacks.dat"})
        EXPECT_EQ(TestSupport::ReadFile(temp / "one" / file), TestSupport::ReadFile(temp / "two" / file))
            << file;
    parameters.seed = 2;
    SyntheticCaptureGenerator::Summary third;
    ASSERT_TRUE(SyntheticCaptureGenerator(parameters)
                    .Generate(temp / "three", TestSupport::CaptureModelRegistry(), third, errors));
    EXPECT_NE(TestSupport::ReadFile(temp / "one" / "events.dat"),
              TestSupport::ReadFile(temp / "three" / "events.dat"));

    auto loaded = LoadSession(temp / "one");
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    const Session& session = *loaded.session;
    EXPECT_EQ(session.GetThreadList().size(), 5u);
    EXPECT_EQ(session.GetProcessList().size(), 2u);
    EXPECT_EQ(session.GetEndTimeMs(), 300.0);
    // Every sample's rootedness matches the broken stack ranges it falls in.
    uint64_t unrooted = 0;
    uint64_t samples = 0;
    std::map<int32_t, std::unique_ptr<BrokenStackCursor>> cursors;
    for (const TraceEvent& event : TestSupport::ReadAllEvents(session)) {
        if (event.kind != ETraceEventKind::Sample)
            continue;
        ++samples;
        const auto thread = static_cast<int32_t>(event.threadId);
        auto& cursor = cursors[thread];
        if (!cursor)
            cursor = std::make_unique<BrokenStackCursor>(*session.GetBrokenStackReader(), event.threadId);
        const bool rooted =
            session.IsStackRooted(static_cast<int32_t>(event.processId), event.stackId, event.time);
        unrooted += rooted ? 0 : 1;
        EXPECT_EQ(cursor->Find(event.time) == nullptr, rooted) << event.time;
    }
    EXPECT_EQ(samples, first.samples);
    EXPECT_NEAR(static_cast<double>(unrooted) / static_cast<double>(samples), 0.2, 0.05);
}

TEST(SyntheticCaptureGenerator, NewCallPathsAppearAtTheChosenRate)
{
    TestSupport::TempDirectory temp;
    SyntheticCaptureGenerator::Parameters parameters;
    parameters.threadCount = 3;
    parameters.durationMs = 2000.0;
    parameters.callPaths = 300;
    const auto paths = [&](double chance, const char* name) {
        parameters.newPathChance = chance;
        Serialization::ErrorList errors;
        SyntheticCaptureGenerator::Summary summary;
        EXPECT_TRUE(SyntheticCaptureGenerator(parameters)
                        .Generate(temp / name, TestSupport::CaptureModelRegistry(), summary, errors))
            << errors.ToString();
        return std::make_pair(summary.callPaths, summary.samples);
    };
    // None: the threads wander through the program's call tree, which never grows.
    // (A thread may first grow a short branch to its minimum depth.)
    EXPECT_LT(paths(0.0, "saturating").first, 300u + 3 * 5);
    // Always: every sample steps onto a new path.
    const auto [always, samples] = paths(1.0, "always");
    EXPECT_GE(always, 300u + samples);
    EXPECT_LT(always, 300u + samples + 3 * 5);
    const uint64_t half = paths(0.5, "half").first - 300u;
    EXPECT_NEAR(static_cast<double>(half), 0.5 * static_cast<double>(samples),
                0.1 * static_cast<double>(samples));
}

} // namespace
