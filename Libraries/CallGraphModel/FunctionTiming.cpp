#include "CallGraphModel/FunctionTiming.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/IAddressLineMap.h"

namespace Profiler {

namespace {

void AddToEntry(TimingEntry& entry, double time, uint8_t state)
{
    if (state == kThreadStateUndetermined)
        state = static_cast<uint8_t>(EThreadState::Executing);
    if (state < kThreadStateCount)
        entry.Times[state] += time;
    entry.Total += time;
}

class TimingCollector {
public:
    TimingCollector(FunctionTimingInfo& info, double samplingIntervalMs)
        : mInfo(info), mSamplingIntervalMs(samplingIntervalMs)
    {}

    void Collect(const CallGraphNode& node)
    {
        for (const AddressSample& sample : node.AddressSamples) {
            mAddressCounts[sample.Address] += sample.Count;
            mSampleTotal += sample.Count;
        }
        mSelfTimeTotal += ComputeSelfTimeSplit(node, mSamplingIntervalMs).Exclusive;
        for (const CallGraphNode* child : node.Children) {
            if (child->GetFunction().IsInstrumentationZone()) {
                Collect(*child);
                continue;
            }
            for (uint8_t state = 0; state < kThreadStateCount; ++state)
                mInfo.AddTime({child->CallerAddress, true}, child->StateTimes[state], state);
        }
    }

    /// Spreads the sampled self time over the sampled addresses by their share of the samples.
    void DistributeSelfTime()
    {
        if (mSampleTotal == 0)
            return;
        for (const auto& [address, count] : mAddressCounts) {
            mInfo.AddTime({address, false},
                          static_cast<double>(count) / static_cast<double>(mSampleTotal) * mSelfTimeTotal,
                          static_cast<uint8_t>(EThreadState::Executing));
            mInfo.AddressEntries[{address, false}].Samples += count;
        }
    }

private:
    FunctionTimingInfo& mInfo;
    const double mSamplingIntervalMs;
    std::unordered_map<uint64_t, uint64_t> mAddressCounts;
    uint64_t mSampleTotal = 0;
    double mSelfTimeTotal = 0.0;
};

} // namespace

void FunctionTimingInfo::AddTime(const TimingAddressKey& key, double time, uint8_t state)
{
    AddToEntry(AddressEntries[key], time, state);
}

void FunctionTimingInfo::AddLineTime(int32_t line, double time, uint8_t state)
{
    AddToEntry(LineEntries[line], time, state);
}

bool ComputeFunctionTiming(const CallGraphNode& root, const ResolvedAddress& function,
                           const FunctionScope& scope, FunctionTimingInfo& info,
                           const std::atomic<bool>& canceled)
{
    // Folding puts every occurrence of the function, recursive re-entries included, at the top.
    FoldedCallGraph folded;
    if (!BuildSubgraphBelowFunction(root, function, scope, folded, nullptr, canceled))
        return false;

    TimingCollector collector(info, scope.SamplingIntervalMs);
    double total = 0.0;
    for (const CallGraphNode* occurrence : folded.GetRoot().Children) {
        total += occurrence->InclusiveTime();
        collector.Collect(*occurrence);
    }
    info.TotalTime = total;
    collector.DistributeSelfTime();
    return true;
}

void MapAddressesToLines(FunctionTimingInfo& info, const IAddressLineMap& lines)
{
    if (!lines.HasAddressRanges())
        return;
    for (const auto& [key, entry] : info.AddressEntries) {
        // A call's return address belongs to the next instruction; the call itself is just before.
        const uint64_t lookup = key.IsReturnAddress ? key.Address - 1 : key.Address;
        const std::optional<int32_t> line = lines.FindLine(lookup);
        if (!line)
            continue;
        for (uint8_t state = 0; state < kThreadStateCount; ++state)
            info.AddLineTime(*line, entry.Times[state], state);
        info.LineEntries[*line].Samples += entry.Samples;
    }
}

} // namespace Profiler
