#pragma once

#include "CallGraphModel/FunctionScope.h"
#include "CallGraphModel/ThreadState.h"
#include "CaptureModel/FunctionData.h"
#include "CaptureModel/ResolvedAddress.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>

namespace Profiler {

class IAddressLineMap;

/// An instruction address of the function; a return address stands for the call before it.
struct TimingAddressKey {
    uint64_t Address = 0;
    /// Time spent in callees called from the instruction before Address.
    bool IsReturnAddress = false;

    bool operator==(const TimingAddressKey&) const = default;
};

struct TimingAddressKeyHash {
    std::size_t operator()(const TimingAddressKey& key) const noexcept
    {
        return static_cast<std::size_t>(
            Utility::Fnv1aValue(static_cast<uint8_t>(key.IsReturnAddress), Utility::Fnv1aValue(key.Address)));
    }
};

struct TimingEntry {
    StateTimeArray Times{};
    double Total = 0.0;
    /// Samples taken at the address (own code only; callee time comes without samples).
    uint64_t Samples = 0;
};

/// How one function's time spreads over its instruction addresses and source lines.
struct FunctionTimingInfo {
    std::unordered_map<TimingAddressKey, TimingEntry, TimingAddressKeyHash> AddressEntries;
    /// Ordered by line number.
    std::map<int32_t, TimingEntry> LineEntries;
    /// Inclusive time of all occurrences of the function (ms), recursion counted once.
    double TotalTime = 0.0;
    /// The function's resolved data (source file, instructions), once resolved.
    std::shared_ptr<const FunctionData> Data;
    std::shared_ptr<const FunctionLineData> LineData;

    /// Adds to an address entry, created at zero; state 9 (not yet determined) counts as Executing.
    void AddTime(const TimingAddressKey& key, double time, uint8_t state);
    void AddLineTime(int32_t line, double time, uint8_t state);
};

/// Attributes the time of every occurrence of `function` in scope below `root`: its own sampled
/// time spread over the sampled addresses, each callee's time on the address it returns to.
/// Instrumentation zones inside the function count as its own code. Returns false when canceled.
bool ComputeFunctionTiming(const CallGraphNode& root, const ResolvedAddress& function,
                           const FunctionScope& scope, FunctionTimingInfo& info,
                           const std::atomic<bool>& canceled);

/// Adds every address entry to the line that holds it (a return address to the line of the call
/// before it). Does nothing while the line data has no address ranges.
void MapAddressesToLines(FunctionTimingInfo& info, const IAddressLineMap& lines);

} // namespace Profiler
