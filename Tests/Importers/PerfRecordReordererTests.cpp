#include "Importers/PerfRecordReorderer.h"
#include "Importers/PerfScriptParser.h"
#include "SharedRecordings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// The reorder window on a real recording (the bundled demo's, three seconds), taken apart into its records
// and put together again the ways real inputs come: slightly out of order, with a damaged time, one recording
// after another, or with a long pause.
namespace {

using namespace Profiler;

struct Seen {
    uint64_t timeNs;
    int32_t tid;
    std::string comm;
    std::size_t frames;
    bool operator==(const Seen&) const = default;
};

class Collector : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override { Add(sample.header, sample.frames.size()); }
    void OnSchedSwitch(const PerfSchedSwitch& record) override
    {
        Add(record.sample.header, record.sample.frames.size());
    }
    void OnTaskEvent(const PerfTaskEvent& event) override { Add(event.header, 0); }
    void OnMmapEvent(const PerfMmapEvent& event) override { Add(event.header, 0); }

    std::vector<Seen> seen;
    std::vector<uint64_t> lines;

private:
    void Add(const PerfRecordHeader& header, std::size_t frames)
    {
        seen.push_back({header.timeNs.value_or(0), header.tid, std::string(header.comm), frames});
        lines.push_back(header.lineNumber);
    }
};

struct Ordered {
    std::vector<Seen> seen;
    std::vector<uint64_t> lines;
    PerfReorderStats stats;

    std::vector<uint64_t> Times() const
    {
        std::vector<uint64_t> times;
        for (const Seen& record : seen)
            if (record.timeNs != 0)
                times.push_back(record.timeNs);
        return times;
    }
};

Ordered Reorder(const std::string& text)
{
    Collector collector;
    PerfRecordReorderer reorderer(collector);
    PerfScriptParser parser(reorderer);
    parser.Feed(text);
    parser.Finish();
    reorderer.Finish();
    return {collector.seen, collector.lines, reorderer.GetStats()};
}

/// The records of a perf script text: a header line with the lines under it.
std::vector<std::string> SplitRecords(const std::string& text)
{
    std::vector<std::string> records;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        const bool header = text[begin] != '\t' && text[begin] != ' ' && text[begin] != '\n';
        if (header || records.empty())
            records.emplace_back();
        records.back().append(text, begin, end - begin);
        begin = end;
    }
    return records;
}

std::string Join(const std::vector<std::string>& records)
{
    std::string text;
    for (const std::string& record : records)
        text += record;
    return text;
}

/// Replaces the time in a record's header ("   1756.237366:") by `seconds`.
std::string WithTime(const std::string& record, double seconds)
{
    const std::size_t colon = record.find(": ");
    const std::size_t start = record.rfind(' ', colon) + 1;
    char time[32];
    std::snprintf(time, sizeof(time), "%.6f", seconds);
    return record.substr(0, start) + time + record.substr(colon);
}

double TimeOf(const std::string& record)
{
    const std::size_t colon = record.find(": ");
    return std::stod(record.substr(record.rfind(' ', colon) + 1));
}

bool IsSorted(const std::vector<uint64_t>& times)
{
    return std::is_sorted(times.begin(), times.end());
}

bool IsTimed(const std::string& record)
{
    return record.find("PERF_RECORD") == std::string::npos || TimeOf(record) != 0.0;
}

class PerfRecordReordererTest : public testing::Test {
protected:
    void SetUp() override
    {
        mText = SharedRecordings::ReadText(QX_DEMO_RECORDING);
        mRecords = SplitRecords(mText);
        ASSERT_GT(mRecords.size(), 4000u);
        mOriginal = Reorder(mText);
        ASSERT_TRUE(IsSorted(mOriginal.Times()));
    }

    std::string mText;
    std::vector<std::string> mRecords;
    Ordered mOriginal;
};

TEST_F(PerfRecordReordererTest, RecordsOutOfOrderWithinTheWindowComeOutInOrder)
{
    // Swap neighbouring timed records all over the recording, and move one 0.5 s later.
    std::vector<std::string> shuffled = mRecords;
    for (std::size_t i = 20; i + 1 < shuffled.size(); i += 7)
        if (IsTimed(shuffled[i]) && IsTimed(shuffled[i + 1]))
            std::swap(shuffled[i], shuffled[i + 1]);
    std::rotate(shuffled.begin() + 100, shuffled.begin() + 101, shuffled.begin() + 300);
    const Ordered ordered = Reorder(Join(shuffled));

    EXPECT_GT(ordered.stats.reorderedRecords, 50u);
    EXPECT_EQ(ordered.stats.lateRecords, 0u);
    EXPECT_EQ(ordered.stats.outlierRecords, 0u);
    EXPECT_EQ(ordered.stats.concatenatedRecordings, 0u);
    // Every record keeps its own time and content; only the order changes.
    EXPECT_TRUE(IsSorted(ordered.Times()));
    auto sorted = [](std::vector<Seen> records) {
        std::sort(records.begin(), records.end(), [](const Seen& a, const Seen& b) {
            return std::tie(a.timeNs, a.tid, a.comm, a.frames) < std::tie(b.timeNs, b.tid, b.comm, b.frames);
        });
        return records;
    };
    EXPECT_EQ(sorted(ordered.seen), sorted(mOriginal.seen));
}

TEST_F(PerfRecordReordererTest, IsolatedOutliersAreReportedAndNeverMoveTheClock)
{
    // One record 27 hours ahead, another one a minute back: both damaged, both kept.
    std::vector<std::string> damaged = mRecords;
    const std::size_t ahead = 200;
    const std::size_t back = 300;
    ASSERT_TRUE(IsTimed(damaged[ahead]) && IsTimed(damaged[back]));
    damaged[ahead] = WithTime(damaged[ahead], TimeOf(damaged[ahead]) + 98200.0);
    damaged[back] = WithTime(damaged[back], TimeOf(damaged[back]) - 60.0);
    const Ordered ordered = Reorder(Join(damaged));

    EXPECT_EQ(ordered.stats.outlierRecords, 2u);
    EXPECT_EQ(ordered.stats.concatenatedRecordings, 0u);
    EXPECT_EQ(ordered.stats.timeJumps, 0u);
    ASSERT_EQ(ordered.seen.size(), mOriginal.seen.size());
    const std::vector<uint64_t> times = ordered.Times();
    EXPECT_TRUE(IsSorted(times));
    // Every other record keeps its time, and the capture ends when the recording did.
    EXPECT_EQ(times.back(), mOriginal.Times().back());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < ordered.seen.size(); ++i)
        changed += ordered.seen[i].timeNs != mOriginal.seen[i].timeNs;
    EXPECT_LE(changed, 2u);
    // The report names the line of the first one.
    uint64_t aheadLine = 1;
    for (std::size_t i = 0; i < ahead; ++i)
        aheadLine += static_cast<uint64_t>(std::count(mRecords[i].begin(), mRecords[i].end(), '\n'));
    EXPECT_EQ(ordered.stats.firstOutlierLine, aheadLine);
}

TEST_F(PerfRecordReordererTest, ARecordingAfterAnotherIsPlacedAfterItWithItsOwnSpacing)
{
    const Ordered twice = Reorder(mText + "\n" + mText);
    EXPECT_EQ(twice.stats.concatenatedRecordings, 1u);
    EXPECT_EQ(twice.stats.outlierRecords, 0u);
    const std::vector<uint64_t> first = mOriginal.Times();
    const std::vector<uint64_t> times = twice.Times();
    ASSERT_EQ(times.size(), 2 * first.size());
    EXPECT_TRUE(IsSorted(times));
    // The second copy starts at the end of the first and keeps its spacing.
    const uint64_t shift = times[first.size()] - first.front();
    EXPECT_EQ(times[first.size()], first.back());
    for (std::size_t i = 0; i < first.size(); ++i)
        ASSERT_EQ(times[first.size() + i], first[i] + shift) << i;
    const uint64_t secondHeaderLine =
        static_cast<uint64_t>(std::count(mText.begin(), mText.end(), '\n')) + 2 +
        static_cast<uint64_t>(std::count(mRecords[0].begin(), mRecords[0].end(), '\n')) +
        static_cast<uint64_t>(std::count(mRecords[1].begin(), mRecords[1].end(), '\n'));
    EXPECT_EQ(twice.stats.firstConcatenationLine, secondHeaderLine);
}

TEST_F(PerfRecordReordererTest, ALongPauseThatTheNextRecordsConfirmKeepsItsTimes)
{
    // The second half of the recording a minute later: a pause, not a fault.
    std::vector<std::string> paused = mRecords;
    for (std::size_t i = paused.size() / 2; i < paused.size(); ++i)
        if (IsTimed(paused[i]))
            paused[i] = WithTime(paused[i], TimeOf(paused[i]) + 60.0);
    const Ordered ordered = Reorder(Join(paused));
    EXPECT_EQ(ordered.stats.timeJumps, 1u);
    EXPECT_EQ(ordered.stats.outlierRecords, 0u);
    EXPECT_EQ(ordered.stats.concatenatedRecordings, 0u);
    const std::vector<uint64_t> times = ordered.Times();
    EXPECT_EQ(times.back(), mOriginal.Times().back() + 60'000'000'000ull);
}

} // namespace
