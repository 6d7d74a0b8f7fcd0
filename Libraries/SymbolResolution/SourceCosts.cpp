#include "SymbolResolution/SourceCosts.h"

#include "CallGraphModel/FunctionTimingProcessor.h"

#include <algorithm>

namespace Profiler {

namespace {

void Accumulate(TimingEntry& target, const TimingEntry& source)
{
    for (int state = 0; state < kThreadStateCount; ++state)
        target.Times[state] += source.Times[state];
    target.Total += source.Total;
    target.Samples += source.Samples;
}

} // namespace

std::map<int32_t, SourceCost> GetLineCosts(const FunctionTimingInfo& info)
{
    std::map<int32_t, SourceCost> costs;
    for (const auto& [line, entry] : info.LineEntries)
        costs[line].Entry = entry;
    LineDataAddressMap lines(info.LineData);
    if (!lines.HasAddressRanges())
        return costs;
    for (const auto& [key, entry] : info.AddressEntries) {
        if (!key.IsReturnAddress)
            continue;
        // The same lookup as the line mapping: the call precedes its return address.
        if (const std::optional<int32_t> line = lines.FindLine(key.Address - 1)) {
            auto cost = costs.find(*line);
            if (cost != costs.end())
                cost->second.CalleeTime += entry.Total;
        }
    }
    return costs;
}

SourceCost GetInstructionCost(const FunctionTimingInfo& info, const AsmInstruction& instruction)
{
    SourceCost cost;
    if (auto own = info.AddressEntries.find({instruction.mAddress, false}); own != info.AddressEntries.end())
        Accumulate(cost.Entry, own->second);
    // Importers record a call site either as the return address or as the byte before it
    // (inside the call); both fall in (address, address + size] of the call only.
    const uint64_t size = std::max<uint64_t>(1, instruction.mSize);
    for (uint64_t offset = 1; offset <= size; ++offset) {
        auto callee = info.AddressEntries.find({instruction.mAddress + offset, true});
        if (callee == info.AddressEntries.end())
            continue;
        Accumulate(cost.Entry, callee->second);
        cost.CalleeTime += callee->second.Total;
    }
    return cost;
}

double GetTimeOnLines(const FunctionTimingInfo& info)
{
    double sum = 0.0;
    for (const auto& [line, entry] : info.LineEntries)
        sum += entry.Total;
    return sum;
}

} // namespace Profiler
