// The broken stack stream: how ranges open and close, chunking per thread, and looking ranges
// up by time through a cursor.

#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/BrokenStackWriter.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModelTestSupport.h"
#include "RTTI/Registry.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>
#include <limits>

using namespace Profiler;

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

std::vector<BrokenStackRecord> ReadThread(const BrokenStackReader& reader, int32_t thread)
{
    std::vector<BrokenStackRecord> all;
    const auto* chunks = reader.GetIndex().FindChunks(thread);
    if (!chunks)
        return all;
    std::vector<uint8_t> stored;
    EventChunkDecompressor decompressor;
    std::vector<BrokenStackRecord> records;
    for (const auto& chunk : *chunks) {
        std::string error;
        EXPECT_TRUE(reader.ReadChunk(chunk, stored, decompressor, records, error)) << error;
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}

class BrokenStackTest : public ::testing::Test {
protected:
    void Finish()
    {
        Serialization::ErrorList errors;
        ASSERT_TRUE(mWriter.Finish(errors)) << errors.ToString();
        // The reader takes its index from "stacks.index", as a loaded session does.
        ASSERT_TRUE(mReader.Open(mDirectory.GetPath(), TestSupport::CaptureModelRegistry(), errors))
            << errors.ToString();
    }

    TestSupport::TempDirectory mDirectory;
    BrokenStackWriter mWriter;
    BrokenStackReader mReader;

    void SetUp() override
    {
        TestSupport::CaptureModelRegistry();
        Serialization::ErrorList errors;
        ASSERT_TRUE(mWriter.Open(mDirectory.GetPath(), errors));
    }
};

} // namespace

TEST_F(BrokenStackTest, RangesOpenAtTheFirstUnrootedStackAndCloseAtTheNextRootedOne)
{
    mWriter.EndRange(ThreadID{1}, 1.0, 50); // nothing open: ignored
    mWriter.BeginRange(ThreadID{1}, 2.0);
    mWriter.BeginRange(ThreadID{1}, 3.0); // already open: keeps 2.0
    mWriter.EndRange(ThreadID{1}, 4.0, 51);
    mWriter.EndRange(ThreadID{1}, 5.0, 52); // closed already: ignored
    mWriter.BeginRange(ThreadID{2}, 6.0);   // still open at the end
    Finish();

    const auto thread1 = ReadThread(mReader, 1);
    ASSERT_EQ(thread1.size(), 1u);
    EXPECT_EQ(thread1[0].startTime, 2.0);
    EXPECT_EQ(thread1[0].endTime, 4.0);
    EXPECT_EQ(thread1[0].stackId, 51u);
    const auto thread2 = ReadThread(mReader, 2);
    ASSERT_EQ(thread2.size(), 1u);
    EXPECT_EQ(thread2[0].startTime, 6.0);
    EXPECT_EQ(thread2[0].endTime, kLargest);
    EXPECT_EQ(thread2[0].stackId, ~0ull);
    EXPECT_EQ(mReader.GetIndex().FindChunks(3), nullptr);
}

TEST_F(BrokenStackTest, RecordsAreWrittenPerThread250AtATime)
{
    for (int i = 0; i < 600; ++i) {
        mWriter.BeginRange(ThreadID{7}, i * 10.0);
        mWriter.EndRange(ThreadID{7}, i * 10.0 + 5.0, i);
        if (i % 100 == 0) {
            mWriter.BeginRange(ThreadID{8}, i * 10.0 + 1.0);
            mWriter.EndRange(ThreadID{8}, i * 10.0 + 2.0, i);
        }
    }
    ASSERT_EQ(mWriter.GetIndex().FindChunks(7)->size(), 2u) << "two full chunks before Finish";
    EXPECT_EQ(mWriter.GetIndex().FindChunks(8), nullptr);
    Finish();

    const auto& chunks = *mReader.GetIndex().FindChunks(7);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].mStartTime, 0.0);
    EXPECT_EQ(chunks[0].mEndTime, 2495.0);
    EXPECT_EQ(chunks[2].mStartTime, 5000.0);
    EXPECT_EQ(chunks[2].mEndTime, 5995.0);
    EXPECT_EQ(chunks[1].mFileOffset, chunks[0].mFileOffset + chunks[0].mSize);
    EXPECT_EQ(ReadThread(mReader, 7).size(), 600u);
    EXPECT_EQ(ReadThread(mReader, 8).size(), 6u);

    // The cursor finds ranges across chunks, forwards and backwards, with [start, end) bounds.
    BrokenStackCursor cursor(mReader, ThreadID{7});
    struct Case {
        double time;
        uint64_t stack; // ~0: not in a range
    };
    for (Case c : {Case{-1.0, ~0ull}, Case{0.0, 0}, Case{4.9, 0}, Case{5.0, ~0ull}, Case{2490.0, 249},
                   Case{2500.0, 250}, Case{5995.0, ~0ull}, Case{5994.0, 599}, Case{1234.0, 123},
                   Case{9e9, ~0ull}, Case{10.0, 1}}) {
        const BrokenStackRecord* found = cursor.Find(c.time);
        EXPECT_EQ(found ? found->stackId : ~0ull, c.stack) << c.time;
    }
    EXPECT_FALSE(cursor.HasFailed());
    BrokenStackCursor other(mReader, ThreadID{7});
    cursor.Find(3000.0);
    other.SetPosition(cursor.GetPosition());
    EXPECT_EQ(other.Find(3001.0)->stackId, 300u);

    std::vector<uint8_t> frame = TestSupport::ReadBytes(mDirectory / "stacks.dat");
    frame.resize(chunks[0].mSize);
    frame.insert(frame.begin(), 3);
    TestSupport::WriteFuzzSeed("EventChunkFuzzer", "broken-stacks", frame);
}

TEST_F(BrokenStackTest, DamagedChunksCountAsRootedAndAreReported)
{
    for (int i = 0; i < 10; ++i) {
        mWriter.BeginRange(ThreadID{1}, i * 2.0);
        mWriter.EndRange(ThreadID{1}, i * 2.0 + 1.0, i);
    }
    Finish();
    std::vector<uint8_t> bytes = TestSupport::ReadBytes(mDirectory / "stacks.dat");
    bytes[bytes.size() / 2] ^= 0x55;
    TestSupport::WriteBytes(mDirectory / "stacks.dat", bytes);

    BrokenStackCursor cursor(mReader, ThreadID{1});
    EXPECT_EQ(cursor.Find(0.5), nullptr);
    EXPECT_TRUE(cursor.HasFailed());
    EXPECT_NE(cursor.GetErrors().ToString().find("Unable to read broken stack chunk 0"), std::string::npos);

    // A file cut short leaves its chunk beyond the end, whether read through the mapping or not.
    std::filesystem::resize_file(mDirectory / "stacks.dat", bytes.size() / 2);
    BrokenStackReader cut;
    Serialization::ErrorList openErrors;
    ASSERT_TRUE(cut.Open(mDirectory.GetPath(), TestSupport::CaptureModelRegistry(), openErrors));
    BrokenStackCursor cutCursor(cut, ThreadID{1});
    EXPECT_EQ(cutCursor.Find(0.5), nullptr);
    EXPECT_NE(cutCursor.GetErrors().ToString().find("beyond the end"), std::string::npos)
        << cutCursor.GetErrors().ToString();

    // A frame that decompresses to a record count its size does not match.
    EventChunkCompressor compressor;
    EventChunkDecompressor decompressor;
    std::vector<BrokenStackRecord> records;
    std::string error;
    const uint64_t wrongCount[2] = {5, 0};
    ASSERT_TRUE(compressor.Compress(reinterpret_cast<const uint8_t*>(wrongCount), sizeof(wrongCount), error));
    EXPECT_FALSE(BrokenStackReader::DecodeChunk(compressor.GetFrame(), compressor.GetFrameSize(),
                                                decompressor, records, error));
    EXPECT_TRUE(records.empty());
}

TEST(BrokenStackFiles, AnUnopenableStreamOrAMissingOrForeignIndexIsReported)
{
    TestSupport::TempDirectory directory;
    const RTTI::Registry& registry = TestSupport::CaptureModelRegistry();
    BrokenStackReader reader;
    Serialization::ErrorList errors;
    EXPECT_FALSE(reader.Open(directory.GetPath(), registry, errors));
    EXPECT_EQ(errors.GetErrors().back().message, "Unable to open file");

    TraceEventStream other;
    ASSERT_TRUE(other.SaveIndex(directory / "stacks.index", errors));
    EXPECT_FALSE(reader.Open(directory.GetPath(), registry, errors));
    EXPECT_TRUE(TestSupport::LastErrorIs(
        errors, Serialization::EErrorCode::Corrupt,
        "The file does not appear to be a BrokenStackIndex file (missing BrokenStackIndex object)"));

    std::filesystem::create_directory(directory / "stacks.dat");
    BrokenStackWriter writer;
    errors.Clear();
    EXPECT_FALSE(writer.Open(directory.GetPath(), errors));
    EXPECT_EQ(errors.GetErrors().at(0).message.rfind("Unable to initialize broken stack processing state" +
                                                         (directory / "stacks.dat").string() + ". Error: ",
                                                     0),
              0u);
}
