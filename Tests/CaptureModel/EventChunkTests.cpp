// The chunk formats at the byte level: payload encoding of every kind, the column layout and
// its checks, the old row-wise encoding, and zstd framing.

#include "CaptureModel/EventChunkBuilder.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkRowDecoder.h"
#include "CaptureModel/EventChunkView.h"
#include "CaptureModelTestSupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <zstd.h>

using namespace Profiler;

namespace {

// Fuzz seed layout for EventChunkFuzzer: a mode byte, then the mode's input.
enum SeedMode : uint8_t { kSeedLayout = 0, kSeedFrame = 1, kSeedRows = 2, kSeedBrokenStacks = 3 };

std::vector<uint8_t> Seed(SeedMode mode, uint64_t eventCount, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> seed(1 + sizeof(eventCount) + body.size());
    seed[0] = mode;
    std::memcpy(seed.data() + 1, &eventCount, sizeof(eventCount));
    if (!body.empty())
        std::memcpy(seed.data() + 1 + sizeof(eventCount), body.data(), body.size());
    return seed;
}

std::vector<uint8_t> LayOut(const std::vector<TraceEvent>& events)
{
    EventChunkBuilder builder;
    for (const TraceEvent& event : events)
        builder.Add(event);
    std::vector<uint8_t> layout;
    builder.LayOut(layout);
    return layout;
}

void SetOffset(std::vector<uint8_t>& layout, int column, uint64_t offset)
{
    std::memcpy(layout.data() + column * 8, &offset, 8);
}

} // namespace

TEST(EventChunk, EveryKindSurvivesTheColumnLayoutAndTheRowEncoding)
{
    const std::vector<TraceEvent> events = TestSupport::MakeEventOfEveryKind(12.5, 100, 200);
    const std::vector<uint8_t> layout = LayOut(events);

    EventChunkView view;
    std::string error;
    ASSERT_TRUE(view.Attach(layout.data(), layout.size(), events.size(), error)) << error;
    std::vector<uint8_t> rows;
    for (std::size_t i = 0; i < events.size(); ++i) {
        TraceEvent decoded;
        ASSERT_TRUE(view.DecodeEvent(i, decoded));
        EXPECT_EQ(TestSupport::DescribeDifference(events[i], decoded), "");
        EncodeEventRow(events[i], rows);
    }
    EventChunkRowDecoder rowDecoder(rows.data(), rows.size());
    TraceEvent decoded;
    for (const TraceEvent& expected : events) {
        ASSERT_TRUE(rowDecoder.Next(decoded)) << rowDecoder.GetError();
        EXPECT_EQ(TestSupport::DescribeDifference(expected, decoded), "");
    }
    EXPECT_FALSE(rowDecoder.Next(decoded));
    EXPECT_FALSE(rowDecoder.HasFailed());
    EXPECT_TRUE(decoded.IsEndMarker());
    EXPECT_EQ(decoded.time, -1.0);

    TestSupport::WriteFuzzSeed("EventChunkFuzzer", "layout-every-kind",
                               Seed(kSeedLayout, events.size(), layout));
    TestSupport::WriteFuzzSeed("EventChunkFuzzer", "rows-every-kind", Seed(kSeedRows, 0, rows));
    EventChunkCompressor compressor;
    ASSERT_TRUE(compressor.Compress(layout.data(), layout.size(), error));
    TestSupport::WriteFuzzSeed(
        "EventChunkFuzzer", "frame-every-kind",
        Seed(kSeedFrame, events.size(),
             std::vector<uint8_t>(compressor.GetFrame(), compressor.GetFrame() + compressor.GetFrameSize())));
}

TEST(EventChunk, StoredPayloadBytesAreLittleEndianInStoredFieldOrder)
{
    TraceEvent event;
    event.kind = ETraceEventKind::Kind11; // u32, u8, u64
    event.data32[0] = 0x04030201;
    event.data8 = 0x05;
    event.data64[0] = 0x0D0C0B0A09080706ull;
    std::vector<uint8_t> rows;
    EncodeEventRow(event, rows);
    const std::vector<uint8_t> payload(rows.begin() + EventChunkRowDecoder::kRowHeaderSize, rows.end());
    EXPECT_EQ(payload, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
}

TEST(EventChunk, UnknownKindsDecodeAsTheEndMarker)
{
    std::vector<TraceEvent> events = TestSupport::MakeEventOfEveryKind(1.0, 1, 1);
    events.resize(1);
    std::vector<uint8_t> layout = LayOut(events);
    uint64_t kindsOffset;
    std::memcpy(&kindsOffset, layout.data() + 8, 8);
    layout[kindsOffset] = 18;

    EventChunkView view;
    std::string error;
    ASSERT_TRUE(view.Attach(layout.data(), layout.size(), 1, error));
    TraceEvent decoded;
    ASSERT_TRUE(view.DecodeEvent(0, decoded));
    EXPECT_TRUE(decoded.IsEndMarker());
    EXPECT_EQ(decoded.time, -1.0);
}

TEST(EventChunk, AttachRejectsLayoutsThatDoNotFitTheBuffer)
{
    const std::vector<TraceEvent> events = TestSupport::MakeEventOfEveryKind(3.0, 1, 2);
    const std::vector<uint8_t> good = LayOut(events);
    EventChunkView view;
    std::string error;

    EXPECT_FALSE(view.Attach(good.data(), 47, 0, error)) << "shorter than the header";
    EXPECT_FALSE(view.Attach(good.data(), good.size(), events.size() + 1000, error))
        << "more events than bytes";
    EXPECT_FALSE(view.Attach(good.data(), good.size(), ~0ull, error)) << "an event count that overflows";
    for (int column = 1; column < 6; ++column) {
        std::vector<uint8_t> bad = good;
        SetOffset(bad, column, bad.size() - 1); // the column would run past the end
        EXPECT_FALSE(view.Attach(bad.data(), bad.size(), events.size(), error)) << "column " << column;
        SetOffset(bad, column, ~0ull);
        EXPECT_FALSE(view.Attach(bad.data(), bad.size(), events.size(), error)) << "column " << column;
        EXPECT_NE(error.find("corrupt"), std::string::npos);
    }
    std::vector<uint8_t> bad = good;
    SetOffset(bad, 0, bad.size() + 1);
    EXPECT_FALSE(view.Attach(bad.data(), bad.size(), events.size(), error)) << "payload area";
    EXPECT_EQ(view.GetEventCount(), 0u) << "a failed attach leaves the view empty";
}

TEST(EventChunk, PayloadsThatRunOutOfTheChunkFailToDecode)
{
    TraceEvent zone = TestSupport::MakeEventOfEveryKind(1.0, 1, 1)[7];
    ASSERT_EQ(zone.kind, ETraceEventKind::ZoneBegin);
    std::vector<uint8_t> layout = LayOut({zone});
    EventChunkView view;
    std::string error;
    TraceEvent decoded;

    // A string length far beyond the buffer.
    std::vector<uint8_t> longString = layout;
    const uint64_t huge = ~0ull - 3;
    std::memcpy(longString.data() + EventChunkView::kHeaderSize + 8, &huge, 8);
    ASSERT_TRUE(view.Attach(longString.data(), longString.size(), 1, error));
    EXPECT_FALSE(view.DecodeEvent(0, decoded));

    // A payload offset beyond the buffer.
    std::vector<uint8_t> farOffset = layout;
    uint64_t offsetsColumn;
    std::memcpy(&offsetsColumn, farOffset.data() + 5 * 8, 8);
    const uint32_t beyond = static_cast<uint32_t>(farOffset.size()) + 1;
    std::memcpy(farOffset.data() + offsetsColumn, &beyond, 4);
    ASSERT_TRUE(view.Attach(farOffset.data(), farOffset.size(), 1, error));
    EXPECT_FALSE(view.DecodeEvent(0, decoded));
    TestSupport::WriteFuzzSeed("EventChunkFuzzer", "layout-bad-offset", Seed(kSeedLayout, 1, farOffset));
}

TEST(EventChunk, RowDecoderStopsAtDamage)
{
    std::vector<uint8_t> rows;
    for (const TraceEvent& event : TestSupport::MakeEventOfEveryKind(5.0, 1, 2))
        EncodeEventRow(event, rows);
    TraceEvent decoded;

    std::vector<uint8_t> unknownKind = rows;
    unknownKind[0] = 200;
    EventChunkRowDecoder first(unknownKind.data(), unknownKind.size());
    EXPECT_FALSE(first.Next(decoded));
    EXPECT_TRUE(first.HasFailed());
    EXPECT_NE(first.GetError().find("unknown event kind 200"), std::string::npos);

    for (std::size_t cut : {std::size_t(5), std::size_t(20), rows.size() - 1}) {
        EventChunkRowDecoder decoder(rows.data(), cut);
        std::size_t decodedCount = 0;
        while (decoder.Next(decoded))
            ++decodedCount;
        EXPECT_TRUE(decoder.HasFailed()) << "cut at " << cut;
        EXPECT_LT(decodedCount, 18u);
    }
}

TEST(EventChunk, DecompressorRefusesImplausibleFrames)
{
    EventChunkDecompressor decompressor;
    std::string error;
    std::vector<uint8_t> data(100000, 7);
    EventChunkCompressor compressor;
    ASSERT_TRUE(compressor.Compress(data.data(), data.size(), error));
    const std::vector<uint8_t> frame(compressor.GetFrame(),
                                     compressor.GetFrame() + compressor.GetFrameSize());

    ASSERT_TRUE(decompressor.Decompress(frame.data(), frame.size(), data.size(), error)) << error;
    EXPECT_EQ(std::vector<uint8_t>(decompressor.GetData(), decompressor.GetData() + decompressor.GetSize()),
              data);

    EXPECT_FALSE(decompressor.Decompress(frame.data(), frame.size(), data.size() - 1, error))
        << "above the bound";
    EXPECT_FALSE(decompressor.Decompress(frame.data(), frame.size() - 1, data.size(), error)) << "cut short";
    EXPECT_FALSE(decompressor.Decompress(frame.data(), 3, data.size(), error)) << "no header";

    // A frame written without its content size cannot be sized before decompressing.
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
    std::vector<uint8_t> sizeless(ZSTD_compressBound(data.size()));
    sizeless.resize(ZSTD_compress2(context, sizeless.data(), sizeless.size(), data.data(), data.size()));
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(decompressor.Decompress(sizeless.data(), sizeless.size(), ~0ull, error));

    // A tiny frame that claims a terabyte is refused before anything is allocated for it:
    // magic, a descriptor for a single segment with an 8-byte content size, the size, and one
    // raw block of one byte.
    std::vector<uint8_t> lying = {0x28, 0xB5, 0x2F, 0xFD, 0xE0};
    const uint64_t claimed = 1ull << 40;
    lying.resize(lying.size() + 8);
    std::memcpy(lying.data() + 5, &claimed, 8);
    lying.insert(lying.end(), {0x09, 0x00, 0x00, 0x41});
    ASSERT_EQ(ZSTD_getFrameContentSize(lying.data(), lying.size()), claimed);
    EXPECT_FALSE(decompressor.Decompress(lying.data(), lying.size(), ~0ull, error));
    EXPECT_NE(error.find("implausible"), std::string::npos);
    TestSupport::WriteFuzzSeed("EventChunkFuzzer", "frame-lying-size", Seed(kSeedFrame, 1, lying));
}

TEST(EventChunk, PrefixOfAFrameReadsOnlyWhatItNeeds)
{
    // Varied bytes, so that the frame is many pieces long and not one run-length block.
    std::vector<uint8_t> data(3 << 20);
    uint32_t value = 1;
    for (uint8_t& byte : data) {
        value = value * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(value >> 29);
    }
    EventChunkCompressor compressor;
    std::string error;
    ASSERT_TRUE(compressor.Compress(data.data(), data.size(), error));
    const std::vector<uint8_t> frame(compressor.GetFrame(), compressor.GetFrame() + compressor.GetFrameSize());
    std::size_t readEnd = 0;
    auto reader = [&](const std::vector<uint8_t>& bytes) {
        return [&bytes, &readEnd](uint64_t offset, uint8_t* into, std::size_t size, std::string& readError) {
            if (offset + size > bytes.size()) {
                readError = "past the end";
                return false;
            }
            std::memcpy(into, bytes.data() + offset, size);
            readEnd = std::max<std::size_t>(readEnd, offset + size);
            return true;
        };
    };
    auto same = [&](const EventChunkDecompressor& decompressor, std::size_t size) {
        return decompressor.GetSize() == size &&
               std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size), decompressor.GetData());
    };

    EventChunkDecompressor decompressor;
    ASSERT_TRUE(decompressor.DecompressPrefix(frame.size(), 1000, reader(frame), error)) << error;
    EXPECT_TRUE(same(decompressor, 1000));
    EXPECT_FALSE(decompressor.IsWhole());
    EXPECT_LT(readEnd, frame.size() / 4) << "the rest of the frame is not read";

    // Asking for more than there is gives the whole content, checked to the frame's end.
    ASSERT_TRUE(decompressor.DecompressPrefix(frame.size(), data.size() * 2, reader(frame), error)) << error;
    EXPECT_TRUE(same(decompressor, data.size()));
    EXPECT_TRUE(decompressor.IsWhole());

    // Damage in the part read is found; damage beyond a prefix is not the prefix's business, but
    // the whole content checks the frame's checksum.
    std::vector<uint8_t> cut(frame.begin(), frame.end() - 100);
    EXPECT_FALSE(decompressor.DecompressPrefix(cut.size(), data.size(), reader(cut), error));
    std::vector<uint8_t> flipped = frame;
    flipped[flipped.size() - 2] ^= 0x40;
    EXPECT_TRUE(decompressor.DecompressPrefix(flipped.size(), 1000, reader(flipped), error)) << error;
    EXPECT_FALSE(decompressor.DecompressPrefix(flipped.size(), data.size(), reader(flipped), error));
    std::vector<uint8_t> garbage = frame;
    std::fill(garbage.begin() + 12, garbage.begin() + 4000, uint8_t{0xAB});
    EXPECT_FALSE(decompressor.DecompressPrefix(garbage.size(), data.size(), reader(garbage), error));
    EXPECT_FALSE(decompressor.DecompressPrefix(3, 1000, reader(frame), error)) << "no header";
}
