#include "CallGraphText.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/FunctionTiming.h"
#include "CallGraphModel/IAddressLineMap.h"

#include <gtest/gtest.h>

#include <map>

using namespace Profiler;
using namespace CallGraphTest;

namespace {

const std::atomic<bool> kNotCanceled{false};

/// Lines by the first address of their range; a range ends where the next begins.
class FakeLineMap final : public IAddressLineMap {
public:
    explicit FakeLineMap(std::map<uint64_t, int32_t> starts, uint64_t end)
        : mStarts(std::move(starts)), mEnd(end)
    {}
    bool HasAddressRanges() const override { return !mStarts.empty(); }
    std::optional<int32_t> FindLine(uint64_t address) const override
    {
        auto next = mStarts.upper_bound(address);
        if (next == mStarts.begin() || address >= mEnd)
            return std::nullopt;
        return std::prev(next)->second;
    }

private:
    std::map<uint64_t, int32_t> mStarts;
    uint64_t mEnd;
};

std::string AddressText(const FunctionTimingInfo& info)
{
    std::map<std::pair<uint64_t, bool>, const TimingEntry*> sorted;
    for (const auto& [key, entry] : info.AddressEntries)
        sorted[{key.Address, key.IsReturnAddress}] = &entry;
    std::string text;
    for (const auto& [key, entry] : sorted) {
        char address[32];
        std::snprintf(address, sizeof(address), "0x%llx", static_cast<unsigned long long>(key.first));
        text += std::string(address) + (key.second ? "r " : " ") + FormatNumber(entry->Total) + "\n";
    }
    return text;
}

std::string LineText(const FunctionTimingInfo& info)
{
    std::string text;
    for (const auto& [line, entry] : info.LineEntries)
        text += std::to_string(line) + " " + FormatNumber(entry.Total) + "\n";
    return text;
}

struct TimingRun {
    FunctionNames names;
    CallGraph graph;
    FunctionScope scope;
    FunctionTimingInfo info;

    TimingRun(const std::string& stacks, const std::string& function)
    {
        AddStacks(graph.GetRoot(), stacks, names);
        EXPECT_TRUE(ComputeFunctionTiming(graph.GetRoot(), names.Get(function), scope, info, kNotCanceled));
    }
};

} // namespace

TEST(FunctionTiming, CalleesGoToTheCallLineAndZonesCountAsOwnCode)
{
    TimingRun run(R"(
        main;f@0x100;g@0x2005 3
        main;f@0x100 2 samples=0x2000:1,0x2010:1
        main;f@0x100;!z@0x2020;h@0x3005 1
        main;f@0x100;!z@0x2020 1 samples=0x3000:1
    )",
                  "f");
    EXPECT_EQ(run.info.TotalTime, 7.0);
    EXPECT_EQ(AddressText(run.info), "0x2000 1\n"
                                     "0x2005r 3\n"
                                     "0x2010 1\n"
                                     "0x3000 1\n"
                                     "0x3005r 1\n");

    const FakeLineMap lines({{0x2000, 10}, {0x2005, 11}, {0x2010, 12}, {0x3000, 20}, {0x3005, 21}}, 0x4000);
    MapAddressesToLines(run.info, lines);
    // The call at 0x2000..0x2004 returns to 0x2005: its callee's time belongs to line 10.
    EXPECT_EQ(LineText(run.info), "10 4\n"
                                  "12 1\n"
                                  "20 2\n");
    EXPECT_EQ(run.info.LineEntries[10].Times[static_cast<int>(EThreadState::Executing)], 4.0);
}

TEST(FunctionTiming, RecursionIsFoldedBeforeTiming)
{
    TimingRun run("f;g@0x2005;f@0x3005 2 samples=0x2000:2\nf;g@0x2005 1\nf 1 samples=0x2000:1", "f");
    EXPECT_EQ(run.info.TotalTime, 4.0);
    // Only g's time outside the recursion is a callee of f.
    EXPECT_EQ(AddressText(run.info), "0x2000 3\n"
                                     "0x2005r 1\n");
}

TEST(FunctionTiming, WithoutSamplesOnlyCalleesHaveEntries)
{
    TimingRun run("main;f;g@0x2005 3 Sleep=1\nmain;f 1", "f");
    EXPECT_EQ(run.info.TotalTime, 5.0);
    EXPECT_EQ(AddressText(run.info), "0x2005r 4\n");
    const TimingEntry& callee = run.info.AddressEntries.at({0x2005, true});
    EXPECT_EQ(callee.Times[static_cast<int>(EThreadState::Sleep)], 1.0);
}

TEST(FunctionTiming, AbsentFunctionHasNoTime)
{
    TimingRun run("main;a 1 samples=0x10:1", "f");
    EXPECT_EQ(run.info.TotalTime, 0.0);
    EXPECT_TRUE(run.info.AddressEntries.empty());
    MapAddressesToLines(run.info, FakeLineMap({{0x0, 1}}, 0x100));
    EXPECT_TRUE(run.info.LineEntries.empty());

    // Time in a state not yet determined counts as executing.
    run.info.AddTime({0x10, false}, 2.0, kThreadStateUndetermined);
    run.info.AddTime({0x10, false}, 1.0, static_cast<uint8_t>(EThreadState::Sleep));
    const TimingEntry& entry = run.info.AddressEntries.at({0x10, false});
    EXPECT_EQ(entry.Times[static_cast<int>(EThreadState::Executing)], 2.0);
    EXPECT_EQ(entry.Total, 3.0);
    // Line data without address ranges maps nothing.
    MapAddressesToLines(run.info, FakeLineMap({}, 0));
    EXPECT_TRUE(run.info.LineEntries.empty());
}
