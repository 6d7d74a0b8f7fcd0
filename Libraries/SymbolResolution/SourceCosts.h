#pragma once

#include "CallGraphModel/FunctionTiming.h"
#include "CaptureModel/FunctionData.h"

#include <cstdint>
#include <map>

// What a function's timing means for one source line or one instruction: the time spent there,
// split by thread state, and how much of it the functions called from there took.

namespace Profiler {

struct SourceCost {
    /// All time on the line or instruction: own samples plus callees.
    TimingEntry Entry;
    /// The part spent in functions called from here.
    double CalleeTime = 0.0;

    bool IsEmpty() const { return Entry.Total <= 0.0; }
};

/// The cost of every timed line, by line number.
std::map<int32_t, SourceCost> GetLineCosts(const FunctionTimingInfo& info);

/// The cost of one instruction: its own samples and, since a callee's time is recorded at the
/// return address (or the byte before it), the time of the callee it calls.
SourceCost GetInstructionCost(const FunctionTimingInfo& info, const AsmInstruction& instruction);

/// The sum of the lines' totals; never more than the function's total for a sound timing.
double GetTimeOnLines(const FunctionTimingInfo& info);

} // namespace Profiler
