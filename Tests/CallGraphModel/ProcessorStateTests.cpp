#include "SyntheticCapture.h"
#include "TestCapture.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "CallGraphModel/SnapshotLoader.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"
#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

constexpr double kNoLimit = std::numeric_limits<double>::max();

/// The tail of a state: pending times, pending flag, thread state, last switch time, broken stack
/// position and kept prefix.
constexpr std::size_t kTailSize = 64 + 1 + 1 + 8 + 4 + 24 + 4;

/// A processor left with zone and sampled bars, samples and pending waits.
struct BusyProcessor {
    std::unique_ptr<TestCapture> capture = std::make_unique<TestCapture>(1.0, true);
    OpenBarProcessor processor{*capture, kThread1, true, OpenBarProcessor::kNoReportingInterval, 0.0};

    BusyProcessor()
    {
        capture->ZoneBegin(0, kThread1, "main;run", "z");
        capture->Sample(0.5, kThread1, "main;run;work+0x24");
        capture->Sample(1.5, kThread1, "main;run;work+0x38");
        capture->SwitchOut(2, kThread1, 9);
        capture->SwitchIn(4, kThread1);
        for (const TraceEvent& event : capture->GetEvents())
            processor.HandleEvent(event, kNoLimit);
    }
};

std::vector<uint8_t> Serialize(const OpenBarProcessor& processor)
{
    std::vector<uint8_t> bytes;
    processor.Serialize(bytes);
    return bytes;
}

bool Deserialize(OpenBarProcessor& processor, std::span<const uint8_t> bytes,
                 Serialization::ErrorList& errors)
{
    RecordReader reader(bytes);
    return processor.Deserialize(reader, errors);
}

template <class T> void Patch(std::vector<uint8_t>& bytes, std::size_t offset, T value)
{
    RecordWriter::StoreLittleEndian(bytes.data() + offset, value);
}

} // namespace

TEST(OpenBarProcessorState, LayoutAndRoundTrip)
{
    BusyProcessor busy;
    TestCapture* capture = busy.capture.get();
    OpenBarProcessor& processor = busy.processor;
    const std::vector<uint8_t> bytes = Serialize(processor);

    RecordReader header(bytes);
    uint32_t thread = 0;
    uint64_t bars = 0;
    uint8_t mask = 0;
    double time = 0.0;
    ASSERT_TRUE(header.Read(thread) && header.Read(bars) && header.Read(mask) && header.Read(time));
    EXPECT_EQ(thread, 1u);
    EXPECT_EQ(bars, 4u); // main, run, the zone, work
    EXPECT_EQ(mask, 1u << 1);
    EXPECT_EQ(time, 2.0); // main ran from 0 and was clamped at the switch out
    RecordReader tail(std::span<const uint8_t>(bytes).subspan(bytes.size() - kTailSize));
    double pending[8];
    for (double& value : pending)
        tail.Read(value);
    uint8_t flag = 0, state = 0;
    double lastSwitch = 0.0;
    tail.Read(flag);
    tail.Read(state);
    tail.Read(lastSwitch);
    EXPECT_EQ(pending[3], 2.0); // MemoryManagement
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(lastSwitch, 2.0);

    // A copy behaves exactly as the original from here on.
    std::unique_ptr<OpenBarProcessor> copy = processor.Copy(true, OpenBarProcessor::kNoReportingInterval);
    EXPECT_EQ(Serialize(*copy), bytes);
    capture->Sample(5, kThread1, "main;run;other");
    CallGraph original;
    CallGraph copied;
    {
        CallGraphOpenBarProcessorRouter first(processor, original);
        CallGraphOpenBarProcessorRouter second(*copy, copied);
        processor.HandleEvent(capture->GetEvents().back(), kNoLimit);
        copy->HandleEvent(capture->GetEvents().back(), kNoLimit);
        processor.CloseAll();
        copy->CloseAll();
    }
    EXPECT_EQ(Dump(copied.GetRoot(), capture->GetNames()), Dump(original.GetRoot(), capture->GetNames()));
    EXPECT_EQ(Dump(original.GetRoot(), capture->GetNames()),
              "main 6 Executing=4 MemoryManagement=2\n"
              "  run@0x1010 6 Executing=4 MemoryManagement=2\n"
              "    !z@0x2010 6 Executing=4 MemoryManagement=2\n"
              "      work@0x2010 1.5 {0x4024:1 0x4038:1}\n"
              "      other@0x2010 1 {0x5010:1}\n");
}

TEST(OpenBarProcessorState, DamagedStatesAreRejectedAndChangeNothing)
{
    BusyProcessor busy;
    const std::vector<uint8_t> bytes = Serialize(busy.processor);
    OpenBarProcessor target(*busy.capture, kThread1, true, OpenBarProcessor::kNoReportingInterval, 0.0);
    const std::vector<uint8_t> empty = Serialize(target);

    for (std::size_t size = 0; size < bytes.size(); ++size) {
        Serialization::ErrorList errors;
        EXPECT_FALSE(Deserialize(target, std::span<const uint8_t>(bytes).first(size), errors)) << size;
        EXPECT_FALSE(errors.IsEmpty());
        RecordReader skip(std::span<const uint8_t>(bytes).first(size));
        EXPECT_FALSE(OpenBarProcessor::SkipSerialized(skip, errors));
    }
    EXPECT_EQ(Serialize(target), empty);

    const std::size_t tailOffset = bytes.size() - kTailSize;
    const std::size_t firstBar = 12;
    const std::size_t firstBarState = firstBar + 1 + 8; // after the mask and main's one time
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> apply;
    };
    const Damage damages[] = {
        {"thread state 8", [&](auto& b) { b[tailOffset + 65] = 8; }},
        {"thread state 11", [&](auto& b) { b[tailOffset + 65] = 11; }},
        {"pending flag 2", [&](auto& b) { b[tailOffset + 64] = 2; }},
        {"bar state 8", [&](auto& b) { b[firstBarState] = 8; }},
        {"not a number", [&](auto& b) { Patch(b, firstBar + 1, std::numeric_limits<double>::quiet_NaN()); }},
        {"bar count", [&](auto& b) { Patch(b, 4, uint64_t{1} << 60); }},
        {"another thread", [&](auto& b) { Patch(b, 0, uint32_t{2}); }},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> damaged = bytes;
        damage.apply(damaged);
        Serialization::ErrorList errors;
        EXPECT_FALSE(Deserialize(target, damaged, errors)) << damage.what;
        EXPECT_FALSE(errors.IsEmpty()) << damage.what;
    }
    // Sample addresses must ascend: swap the two samples of the innermost bar.
    std::vector<uint8_t> swapped = bytes;
    const std::size_t samples = tailOffset - 2 * 12;
    std::vector<uint8_t> first(swapped.begin() + samples, swapped.begin() + samples + 12);
    std::memmove(swapped.data() + samples, swapped.data() + samples + 12, 12);
    std::memcpy(swapped.data() + samples + 12, first.data(), 12);
    Serialization::ErrorList errors;
    EXPECT_FALSE(Deserialize(target, swapped, errors));
    EXPECT_NE(errors.ToString().find("out of order"), std::string::npos) << errors.ToString();
    EXPECT_EQ(Serialize(target), empty);
}

TEST(OpenBarProcessorState, RecordsReadBackWholeOrFromTheirStartAndSeedTheFuzzer)
{
    // New call paths make Full records far larger than the state at their start, which a range
    // query reads alone; the state read from a short first read (read again, longer, until it
    // fits) must equal the one read with the whole record. The decompressed records seed the
    // snapshot record fuzzer.
    ModelFixture fixture(MakeSyntheticCapture({.seed = 5, .durationMs = 20000, .newPathChance = 0.5}));
    ASSERT_TRUE(fixture.Process()) << fixture.errors.ToString();
    const CallGraphModel& model = *fixture.model;
    const TestCapture& shared = *fixture.capture;
    const std::atomic<bool> canceled{false};
    const std::filesystem::path seeds = TestSupport::FuzzCorpusDirectory("SnapshotRecordFuzzer");
    std::filesystem::create_directories(seeds);
    int written = 0;
    bool sawLargeRecord = false;
    for (ThreadID thread : GetThreads(shared)) {
        const SnapshotTable table = fixture.Table(thread);
        for (const auto& snapshot : table.GetSnapshots()) {
            const std::vector<uint8_t> record = ReadSnapshot(model, snapshot);
            sawLargeRecord = sawLargeRecord || record.size() > kSnapshotStateFirstRead;
            // Each record reads back as a state and a graph, with nothing left over.
            OpenBarProcessor whole(shared, thread, true, OpenBarProcessor::kNoReportingInterval, 0.0);
            Serialization::ErrorList errors;
            RecordReader reader(record);
            ASSERT_TRUE(whole.Deserialize(reader, errors)) << errors.ToString();
            CallGraph graph;
            ASSERT_TRUE(graph.GetRoot().DeserializeAdd(reader, errors)) << errors.ToString();
            EXPECT_EQ(reader.GetRemaining(), 0u);
            TestSupport::WriteFile(seeds / ("record-" + std::to_string(written++)),
                                   std::string(record.begin(), record.end()));
            for (std::size_t firstRead : {std::size_t(1), std::size_t(100), kSnapshotStateFirstRead}) {
                OpenBarProcessor fromStart(shared, thread, true, OpenBarProcessor::kNoReportingInterval, 0.0);
                const SnapshotLoadTask task{snapshot, {&fromStart, nullptr}, {nullptr, nullptr}};
                ASSERT_TRUE(LoadSnapshots(model.GetSnapshotFile(), &fixture.scheduler, {&task, 1}, canceled,
                                          errors, firstRead))
                    << errors.ToString();
                EXPECT_EQ(Serialize(fromStart), Serialize(whole))
                    << "first read of " << firstRead << " bytes";
            }
        }
    }
    EXPECT_TRUE(sawLargeRecord);
    EXPECT_GE(written, 6);
}
