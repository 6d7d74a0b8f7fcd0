// Opening a capture's event stream from its index, and rewriting old row-wise streams.

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/EventChunkRowDecoder.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "CaptureModel/TraceEventStreamWriter.h"
#include "CaptureModelTestSupport.h"
#include "RTTI/Registry.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

using namespace Profiler;

namespace {

constexpr uint64_t kOldEvents = 250'000;

TraceEvent OldEvent(uint64_t i)
{
    TraceEvent event;
    event.time = static_cast<double>(i) * 0.25;
    event.processId = ProcessID{3};
    event.threadId = ThreadID(static_cast<uint32_t>(10 + i % 3));
    if (i % 1000 == 0) {
        event.kind = ETraceEventKind::ZoneBeginWithColour;
        event.text[0] = "old zone";
        event.data32[0] = 0xFF;
    } else if (i % 7 == 0) {
        event.kind = ETraceEventKind::ContextSwitchOut;
        event.data8 = static_cast<uint8_t>(i % 30);
    } else {
        event.kind = ETraceEventKind::Sample;
        event.stackId = i;
    }
    return event;
}

/// A version-1 capture: uncompressed row-wise chunks of 30,000 events and their index.
void WriteOldStream(const std::filesystem::path& directory)
{
    std::vector<uint8_t> data;
    std::vector<TraceEventStream::Chunk> chunks;
    for (uint64_t first = 0; first < kOldEvents; first += 30'000) {
        TraceEventStream::Chunk chunk;
        chunk.mFileOffset = data.size();
        const uint64_t last = std::min(kOldEvents, first + 30'000);
        for (uint64_t i = first; i < last; ++i) {
            const TraceEvent event = OldEvent(i);
            EncodeEventRow(event, data);
            chunk.mThreads.insert(event.threadId);
            chunk.mProcesses.insert(ThreadID{3});
        }
        chunk.mSize = data.size() - chunk.mFileOffset;
        chunk.mNumEvents = last - first;
        chunk.mStartTime = OldEvent(first).time;
        chunk.mEndTime = OldEvent(last - 1).time;
        chunks.push_back(chunk);
    }
    TestSupport::WriteBytes(directory / "events.dat", data);
    TraceEventStream index;
    index.SetIndex(kOldEvents, chunks, 1);
    Serialization::ErrorList errors;
    ASSERT_TRUE(index.SaveIndex(directory / "events.index", errors)) << errors.ToString();
}

class TraceEventStreamUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteOldStream(mDirectory.GetPath());
        mOriginalData = TestSupport::ReadBytes(mDirectory / "events.dat");
        mOriginalIndex = TestSupport::ReadBytes(mDirectory / "events.index");
        mStream = TraceEventStream::Open(mDirectory.GetPath(), mRegistry, mErrors);
        ASSERT_TRUE(mStream) << mErrors.ToString();
    }

    void ExpectOriginalFiles()
    {
        EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events.dat"), mOriginalData);
        EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events.index"), mOriginalIndex);
        EXPECT_FALSE(std::filesystem::exists(mDirectory / "events_tmp.dat"));
        EXPECT_FALSE(std::filesystem::exists(mDirectory / "events_tmp.index"));
    }

    void ExpectAllEvents(const TraceEventStream& stream)
    {
        TraceEventStreamReader reader(stream);
        reader.SetZonesEnabled(true);
        TraceEvent event;
        uint64_t count = 0;
        while (reader.Next(event)) {
            ASSERT_EQ(TestSupport::DescribeDifference(OldEvent(count), event), "") << count;
            ++count;
        }
        EXPECT_FALSE(reader.HasFailed()) << reader.GetErrors().ToString();
        EXPECT_EQ(count, kOldEvents);
    }

    TestSupport::TempDirectory mDirectory;
    RTTI::Registry& mRegistry = TestSupport::CaptureModelRegistry();
    Serialization::ErrorList mErrors;
    std::unique_ptr<TraceEventStream> mStream;
    std::vector<uint8_t> mOriginalData;
    std::vector<uint8_t> mOriginalIndex;
};

} // namespace

TEST_F(TraceEventStreamUpgradeTest, OldStreamsReadAsTheyAreAndUpgradeWithBackups)
{
    ASSERT_EQ(mStream->GetEventDataVersion(), 1u);
    ExpectAllEvents(*mStream);

    std::vector<float> progress;
    ASSERT_TRUE(mStream->Upgrade(mErrors, nullptr, [&](float fraction) { progress.push_back(fraction); }))
        << mErrors.ToString();
    EXPECT_EQ(mStream->GetEventDataVersion(), 2u);
    EXPECT_EQ(mStream->GetNumEvents(), kOldEvents);
    ASSERT_EQ(mStream->GetChunks().size(), 3u) << "100,000 events per new chunk";
    EXPECT_EQ(mStream->GetChunks()[2].mNumEvents, 50'000u);
    ExpectAllEvents(*mStream);

    ASSERT_EQ(progress.size(), 100u) << "once per whole percent";
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i], progress[i - 1]);
    EXPECT_EQ(progress.back(), 1.0f);

    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events_old.dat"), mOriginalData);
    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events_old.index"), mOriginalIndex);
    EXPECT_FALSE(std::filesystem::exists(mDirectory / "events_tmp.dat"));
    auto reopened = TraceEventStream::Open(mDirectory.GetPath(), mRegistry, mErrors);
    ASSERT_TRUE(reopened) << mErrors.ToString();
    EXPECT_EQ(reopened->GetEventDataVersion(), 2u);
    ExpectAllEvents(*reopened);

    // A second upgrade of a current stream changes nothing.
    const auto upgradedData = TestSupport::ReadBytes(mDirectory / "events.dat");
    EXPECT_TRUE(reopened->Upgrade(mErrors, nullptr, {}));
    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events.dat"), upgradedData);
    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events_old.dat"), mOriginalData);
}

TEST_F(TraceEventStreamUpgradeTest, AnExistingBackupIsKept)
{
    const std::vector<uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    TestSupport::WriteBytes(mDirectory / "events_old.dat", earlier);
    ASSERT_TRUE(mStream->Upgrade(mErrors, nullptr, {})) << mErrors.ToString();
    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events_old.dat"), earlier);
    EXPECT_EQ(TestSupport::ReadBytes(mDirectory / "events_old.index"), mOriginalIndex);
    ExpectAllEvents(*mStream);
}

TEST_F(TraceEventStreamUpgradeTest, CancelLeavesTheStreamAsItWas)
{
    std::atomic<bool> canceled{false};
    EXPECT_FALSE(mStream->Upgrade(mErrors, &canceled, [&](float fraction) {
        if (fraction >= 0.3f)
            canceled = true;
    }));
    EXPECT_TRUE(mErrors.IsEmpty()) << "cancelling is not an error";
    EXPECT_EQ(mStream->GetEventDataVersion(), 1u);
    ExpectOriginalFiles();
    ExpectAllEvents(*mStream);
}

TEST_F(TraceEventStreamUpgradeTest, DamagedOldChunkFailsAndKeepsTheOriginal)
{
    std::vector<uint8_t> damaged = mOriginalData;
    const uint64_t secondChunk = mStream->GetChunks()[1].mFileOffset;
    damaged[secondChunk] = 99; // no such kind: the rows cannot be followed
    TestSupport::WriteBytes(mDirectory / "events.dat", damaged);
    mOriginalData = damaged;

    EXPECT_FALSE(mStream->Upgrade(mErrors, nullptr, {}));
    ASSERT_EQ(mErrors.GetCount(), 1u);
    EXPECT_EQ(mErrors.GetErrors()[0].message.rfind("Unable to read from old event stream " +
                                                       (mDirectory / "events.dat").string() + ". Error: ",
                                                   0),
              0u);
    ExpectOriginalFiles();
}

TEST_F(TraceEventStreamUpgradeTest, OpenNeedsTheStreamRootInTheIndexAndTheDataFile)
{
    Profiler::BrokenStackIndex other;
    ASSERT_TRUE(other.Save(mDirectory / "events.index", mErrors));
    EXPECT_FALSE(TraceEventStream::Open(mDirectory.GetPath(), mRegistry, mErrors));
    EXPECT_EQ(mErrors.GetErrors().back().message,
              "The file does not appear to be a TraceEventStream file (missing TraceEventStream object)");

    TestSupport::WriteBytes(mDirectory / "events.index", mOriginalIndex);
    std::filesystem::remove(mDirectory / "events.dat");
    EXPECT_FALSE(TraceEventStream::Open(mDirectory.GetPath(), mRegistry, mErrors));
    EXPECT_EQ(mErrors.GetErrors().back().message, "Unable to open events data file " +
                                                      (mDirectory / "events.dat").string() +
                                                      ", the file does not exist");
}
