#include "ProfilerLibUI/CallGraph/TimeDistribution.h"

#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "System/FormatDuration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Profiler {

namespace {

std::string Row(const char* label, double value, double reference)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "<tr><td><strong>%s</strong></td><td align='right'>%d%% </td><td><p "
                  "style='white-space:pre'>(%s)</p></td></tr>",
                  label, RoundedShare(value, reference), System::FormatDuration(value, 4, true).c_str());
    return buffer;
}

} // namespace

std::vector<TimeDistributionEntry> BuildTimeDistributionEntries(const CallGraphNode& node, double timeScale,
                                                                FunctionNameCache& names)
{
    std::vector<TimeDistributionEntry> entries;
    entries.reserve(node.Children.size() + 1);
    // The self slice's states are what the node spent outside its callees, state by state.
    StateTimeArray selfStates = node.StateTimes;
    for (const CallGraphNode* child : node.Children)
        for (int state = 0; state < kThreadStateCount; ++state)
            selfStates[state] -= child->StateTimes[state];
    for (double& time : selfStates)
        time = std::max(time, 0.0);
    entries.push_back({nullptr, ComputeNodeFigures(node, timeScale).SelfTime,
                       TimeDistributionSlice::kSelfLabel, selfStates});
    for (const CallGraphNode* child : node.Children)
        entries.push_back(
            {child, child->InclusiveTime(), names.GetName(child->GetFunction()), child->StateTimes});
    return entries;
}

std::vector<TimeDistributionSlice> BuildTimeDistributionSlices(std::vector<TimeDistributionEntry> entries,
                                                               float threshold)
{
    std::vector<TimeDistributionSlice> slices;
    if (entries.empty())
        return slices;
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const TimeDistributionEntry& a, const TimeDistributionEntry& b) { return a.Time > b.Time; });
    double total = 0.0;
    for (const TimeDistributionEntry& entry : entries)
        total += entry.Time;
    double otherTime = 0.0;
    float otherFraction = 0.0f;
    StateTimeArray otherStates{};
    for (TimeDistributionEntry& entry : entries) {
        const float fraction = total > 0.0 ? static_cast<float>(entry.Time / total) : 0.0f;
        if (total > 0.0 && fraction >= threshold) {
            slices.push_back({entry.Node, entry.Time, std::move(entry.Label), fraction, entry.States});
        } else {
            otherTime += entry.Time;
            otherFraction += fraction;
            for (int state = 0; state < kThreadStateCount; ++state)
                otherStates[state] += entry.States[state];
        }
    }
    if (otherTime > 0.0)
        slices.push_back(
            {nullptr, otherTime, TimeDistributionSlice::kOtherLabel, otherFraction, otherStates});
    return slices;
}

std::string SliceLabel(const TimeDistributionSlice& slice)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%%", static_cast<int>(std::lround(slice.Fraction * 100.0f)));
    return buffer;
}

std::string SliceTooltip(const TimeDistributionSlice& slice, double timeScale)
{
    const int percent = static_cast<int>(std::lround(slice.Fraction * 100.0f));
    char buffer[1024];
    if (slice.IsOther())
        std::snprintf(buffer, sizeof buffer, "<b>%d%%</b>", percent);
    else
        std::snprintf(buffer, sizeof buffer, "<b>%s (%d%%)</b>", slice.Label.c_str(), percent);
    std::string text = "<p style='white-space:pre'>";
    text += buffer;
    text += System::FormatDuration(slice.Time, 4, true);
    if (slice.Node != nullptr) {
        const NodeFigures figures = ComputeNodeFigures(*slice.Node, timeScale);
        text += "<br><table>";
        text += Row("Exclusive Time", figures.Exclusive, slice.Time);
        if (figures.UnknownExecuting > 0.0)
            text += Row("Unknown Executing", figures.UnknownExecuting, slice.Time);
        if (figures.UnknownWait > 0.0)
            text += Row("Unknown Wait", figures.UnknownWait, slice.Time);
        text += "</table>";
    }
    text += "<br/><br/>";
    if (slice.IsSelf())
        text += "<b>Left-click</b>: Unable to navigate deeper as this is self time";
    else if (slice.IsOther())
        text += "<b>Left-click</b>: Unable to navigate deeper as these are multiple functions";
    else
        text += "<b>Left-click</b> to navigate into this function";
    text += "<br/><b>Right-click</b> to navigate back to the parent</p>";
    return text;
}

} // namespace Profiler
