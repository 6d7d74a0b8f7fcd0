#pragma once

#include "CallGraphModel/CallGraphNode.h"

#include <string>
#include <vector>

namespace Profiler {

class FunctionNameCache;

/// A candidate slice of the time distribution of one node: its own time or one callee's.
struct TimeDistributionEntry {
    const CallGraphNode* Node = nullptr; ///< the callee; null for "Self" and "Other"
    double Time = 0.0;                   ///< milliseconds
    std::string Label;
    StateTimeArray States{}; ///< how Time splits by thread state
};

/// One drawn slice; the fractions of all slices add up to 1.
struct TimeDistributionSlice {
    const CallGraphNode* Node = nullptr;
    double Time = 0.0;
    std::string Label;
    float Fraction = 0.0f;
    StateTimeArray States{};

    bool IsSelf() const { return Node == nullptr && Label == kSelfLabel; }
    bool IsOther() const { return Node == nullptr && Label == kOtherLabel; }

    static constexpr const char* kSelfLabel = "Self";
    static constexpr const char* kOtherLabel = "Other";
};

/// "Self" with the node's own time (its inclusive time not spent in callees, so that the
/// slices add up to the node's inclusive time), then one entry per child in child order.
std::vector<TimeDistributionEntry> BuildTimeDistributionEntries(const CallGraphNode& node, double timeScale,
                                                                FunctionNameCache& names);

/// Largest first; entries below `threshold` of the total are summed into a last "Other" slice
/// (only when that sum is above 0). No entries give no slices.
std::vector<TimeDistributionSlice> BuildTimeDistributionSlices(std::vector<TimeDistributionEntry> entries,
                                                               float threshold);

/// The label drawn on a slice: its rounded percentage.
std::string SliceLabel(const TimeDistributionSlice& slice);
/// The HTML tooltip of a hovered slice, with the time split of a callee's slice.
std::string SliceTooltip(const TimeDistributionSlice& slice, double timeScale);

} // namespace Profiler
