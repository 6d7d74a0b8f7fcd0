// Writing and reading whole streams: the chunk index the writer produces, time-ordered reading
// with its thread, zone and end-time filters, positioning, damage and concurrent readers.

#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "CaptureModel/TraceEventStreamWriter.h"
#include "CaptureModelTestSupport.h"
#include "Support/TempDirectory.h"

#include <barrier>
#include <gtest/gtest.h>
#include <thread>

using namespace Profiler;

namespace {

// Threads 1..4 of process 10 take turns; every 10th event is a zone begin or end on thread 1.
std::vector<TraceEvent> MakeEvents(int count)
{
    std::vector<TraceEvent> events;
    for (int i = 0; i < count; ++i) {
        TraceEvent event;
        event.time = i * 0.5;
        event.processId = ProcessID{10};
        event.threadId = ThreadID(1 + i % 4);
        if (i % 10 == 0) {
            event.threadId = ThreadID{1};
            event.kind = (i / 10) % 2 == 0 ? ETraceEventKind::ZoneBegin : ETraceEventKind::ZoneEnd;
            if (event.kind == ETraceEventKind::ZoneBegin)
                event.text[0] = "zone";
        } else {
            event.kind = ETraceEventKind::Sample;
            event.stackId = 1000 + i;
        }
        events.push_back(event);
    }
    return events;
}

std::unique_ptr<TraceEventStream> WriteStream(const std::filesystem::path& directory,
                                              const std::vector<TraceEvent>& events, uint64_t eventsPerChunk)
{
    TestSupport::CaptureModelRegistry();
    TraceEventStreamWriter writer;
    Serialization::ErrorList errors;
    EXPECT_TRUE(writer.Open(directory, errors));
    for (const TraceEvent& event : events) {
        writer.Add(event);
        if (writer.GetPendingEventCount() == eventsPerChunk) {
            EXPECT_TRUE(writer.FlushChunk(errors));
        }
    }
    EXPECT_TRUE(writer.Close(errors)) << errors.ToString();
    std::unique_ptr<TraceEventStream> stream = writer.TakeStream();
    EXPECT_TRUE(stream->OpenDataFile(directory, errors)) << errors.ToString();
    return stream;
}

std::vector<TraceEvent> ReadAll(TraceEventStreamReader& reader, double endTime = 1e300)
{
    std::vector<TraceEvent> events;
    TraceEvent event;
    while (reader.Next(event, endTime))
        events.push_back(event);
    return events;
}

std::vector<double> Times(const std::vector<TraceEvent>& events)
{
    std::vector<double> times;
    for (const TraceEvent& event : events)
        times.push_back(event.time);
    return times;
}

class TraceEventStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mEvents = MakeEvents(1000);
        mStream = WriteStream(mDirectory.GetPath(), mEvents, 100);
    }

    std::vector<TraceEvent> Expected(auto predicate) const
    {
        std::vector<TraceEvent> expected;
        for (const TraceEvent& event : mEvents)
            if (predicate(event))
                expected.push_back(event);
        return expected;
    }

    TestSupport::TempDirectory mDirectory;
    std::vector<TraceEvent> mEvents;
    std::unique_ptr<TraceEventStream> mStream;
};

} // namespace

TEST_F(TraceEventStreamTest, WriterIndexesEachChunk)
{
    const auto& chunks = mStream->GetChunks();
    ASSERT_EQ(chunks.size(), 10u);
    EXPECT_EQ(mStream->GetNumEvents(), 1000u);
    EXPECT_EQ(mStream->GetEventDataVersion(), 2u);
    uint64_t offset = 0;
    for (std::size_t c = 0; c < chunks.size(); ++c) {
        EXPECT_EQ(chunks[c].mFileOffset, offset) << "chunks are back to back";
        offset += chunks[c].mSize;
        EXPECT_EQ(chunks[c].mNumEvents, 100u);
        EXPECT_EQ(chunks[c].mStartTime, c * 50.0);
        EXPECT_EQ(chunks[c].mEndTime, c * 50.0 + 49.5);
        EXPECT_EQ(chunks[c].mProcesses, std::set<ThreadID>{ThreadID{10}});
        EXPECT_EQ(chunks[c].mThreads,
                  (std::set<ThreadID>{ThreadID{1}, ThreadID{2}, ThreadID{3}, ThreadID{4}}));
    }
    EXPECT_EQ(std::filesystem::file_size(mDirectory / "events.dat"), offset);
}

TEST_F(TraceEventStreamTest, ReadsEverythingInOrderWithZonesOnlyWhenEnabled)
{
    TraceEventStreamReader reader(*mStream);
    const auto withoutZones = ReadAll(reader);
    EXPECT_EQ(Times(withoutZones), Times(Expected([](const TraceEvent& e) { return !IsZoneEvent(e.kind); })));
    EXPECT_FALSE(reader.HasFailed());

    TraceEventStreamReader zoneReader(*mStream);
    zoneReader.SetZonesEnabled(true);
    const auto all = ReadAll(zoneReader);
    ASSERT_EQ(all.size(), mEvents.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(TestSupport::DescribeDifference(mEvents[i], all[i]), "") << i;
    EXPECT_GT(zoneReader.GetIoSeconds(), 0.0);
}

TEST_F(TraceEventStreamTest, StopsBeforeTheEndTimeResumesFromThereAndSeeks)
{
    TraceEventStreamReader reader(*mStream);
    reader.SetZonesEnabled(true);
    // 125.0 is event 250, in the middle of chunk 2; reading stops before it, not after.
    EXPECT_EQ(ReadAll(reader, 125.0).size(), 250u);
    EXPECT_EQ(reader.GetPosition(), (TraceEventStreamReader::Position{2, 50}));
    EXPECT_DOUBLE_EQ(reader.GetProgress(), 0.25);
    const auto rest = ReadAll(reader, 150.0);
    ASSERT_EQ(rest.size(), 50u);
    EXPECT_EQ(rest.front().time, 125.0);
    // An end time at a chunk's start does not read that chunk.
    EXPECT_EQ(ReadAll(reader, 150.0).size(), 0u);

    // Seek finds the first event at or after the time.
    TraceEvent event;
    struct Case {
        double time;
        double expected;
    };
    for (Case c : {Case{-5.0, 0.0}, Case{0.0, 0.0}, Case{49.5, 49.5}, Case{49.7, 50.0}, Case{50.0, 50.0},
                   Case{123.25, 123.5}, Case{499.5, 499.5}}) {
        ASSERT_TRUE(reader.Seek(c.time));
        ASSERT_TRUE(reader.Next(event)) << c.time;
        EXPECT_EQ(event.time, c.expected) << c.time;
    }
    ASSERT_TRUE(reader.Seek(500.0));
    EXPECT_FALSE(reader.Next(event));
    EXPECT_FALSE(reader.HasFailed());
}

TEST_F(TraceEventStreamTest, ThreadSetSelectsEventsAndSkipsChunksWithoutThem)
{
    // Thread 7 only has events in chunk 4 (times 200..249.5); every other chunk is damaged on
    // disk, so reading thread 7 succeeds only if it never decompresses them.
    std::vector<TraceEvent> events = MakeEvents(1000);
    for (int i = 401; i < 500; i += 7)
        if (events[i].kind == ETraceEventKind::Sample)
            events[i].threadId = ThreadID{7};
    TestSupport::TempDirectory directory;
    auto stream = WriteStream(directory.GetPath(), events, 100);
    std::vector<uint8_t> bytes = TestSupport::ReadBytes(directory / "events.dat");
    for (std::size_t c = 0; c < stream->GetChunks().size(); ++c)
        if (c != 4)
            bytes[stream->GetChunks()[c].mFileOffset + 4] ^= 0xFF; // break the frame header
    TestSupport::WriteBytes(directory / "events.dat", bytes);
    Serialization::ErrorList errors;
    ASSERT_TRUE(stream->OpenDataFile(directory.GetPath(), errors));

    TraceEventStreamReader reader(*stream);
    const ThreadID wanted[] = {ThreadID{7}};
    reader.SetThreads(wanted);
    const auto read = ReadAll(reader);
    EXPECT_FALSE(reader.HasFailed()) << reader.GetErrors().ToString();
    EXPECT_EQ(read.size(), 14u);
    for (const TraceEvent& event : read)
        EXPECT_EQ(event.threadId, ThreadID{7});

    ASSERT_TRUE(reader.Seek(0.0));
    EXPECT_EQ(reader.GetPosition().chunkIndex, 4u) << "seeking skips chunks without the thread";

    reader.SetAllThreads();
    reader.SetPosition({0, 0});
    EXPECT_TRUE(ReadAll(reader).empty());
    EXPECT_TRUE(reader.HasFailed());
    EXPECT_NE(reader.GetErrors().ToString().find("Event chunk 0 of"), std::string::npos);
    EXPECT_NE(reader.GetErrors().ToString().find("is damaged"), std::string::npos);
}

TEST_F(TraceEventStreamTest, PositionsCarryOverToAnotherReader)
{
    TraceEventStreamReader first(*mStream);
    const ThreadID threads[] = {ThreadID{2}, ThreadID{3}};
    first.SetThreads(threads);
    ReadAll(first, 260.0);
    TraceEventStreamReader second(*mStream);
    second.SetThreads(threads);
    second.SetPosition(first.GetPosition());
    const auto fromFirst = ReadAll(first, 400.0);
    const auto fromSecond = ReadAll(second, 400.0);
    EXPECT_EQ(Times(fromFirst), Times(fromSecond));
    EXPECT_EQ(Times(fromFirst), Times(Expected([](const TraceEvent& e) {
                  return e.time >= 260.0 && e.time < 400.0 &&
                         (e.threadId == ThreadID{2} || e.threadId == ThreadID{3});
              })));
}

TEST_F(TraceEventStreamTest, ConcurrentReadersSeeTheSameEvents)
{
    constexpr int kReaders = 4;
    std::vector<std::vector<double>> results(kReaders);
    std::barrier start(kReaders);
    std::vector<std::thread> threads;
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&, r] {
            TraceEventStreamReader reader(*mStream);
            start.arrive_and_wait();
            for (int pass = 0; pass < 5; ++pass) {
                reader.Seek(pass * 10.0);
                results[r] = Times(ReadAll(reader));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int r = 1; r < kReaders; ++r)
        EXPECT_EQ(results[r], results[0]);
    EXPECT_EQ(results[0].front(), 40.5) << "the zone event at 40.0 is left out";
}

TEST(TraceEventStreamFiles, DamagedIndexEntriesAndUnwritableDataFilesAreReported)
{
    TestSupport::TempDirectory directory;
    auto stream = WriteStream(directory.GetPath(), MakeEvents(50), 100);
    std::vector<TraceEventStream::Chunk> chunks = stream->GetChunks();
    chunks[0].mSize = 1ull << 40; // a damaged index must not size a buffer
    stream->SetIndex(50, chunks, 2);
    TraceEventStreamReader reader(*stream);
    TraceEvent event;
    EXPECT_FALSE(reader.Next(event));
    EXPECT_NE(reader.GetErrors().ToString().find("lies beyond the end"), std::string::npos);

    // The writer reports a data file it cannot write.
    std::filesystem::remove(directory / "events.dat");
    std::filesystem::create_directory(directory / "events.dat");
    TraceEventStreamWriter writer;
    Serialization::ErrorList errors;
    EXPECT_FALSE(writer.Open(directory.GetPath(), errors));
    EXPECT_EQ(errors.GetErrors().at(0).message,
              "Failed to open " + (directory / "events.dat").string() + " for writing");
}
