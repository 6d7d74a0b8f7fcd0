#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"

#include "System/FormatDuration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace Profiler {

namespace {

constexpr int kSmallestUnit = 4; // microseconds

std::string Duration(double milliseconds)
{
    return System::FormatDuration(milliseconds, kSmallestUnit, true);
}

/// A duration below one microsecond prints in nanoseconds: such a row would only be noise.
bool HasVisibleUnit(double milliseconds)
{
    const std::string text = Duration(milliseconds);
    return text.size() < 2 || text.compare(text.size() - 2, 2, "ns") != 0;
}

std::string TableRow(const char* label, double value, double reference)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "<tr><td><strong>%s</strong></td><td align='right'>%d%% </td><td><p "
                  "style='white-space:pre'>(%s)</p></td></tr>",
                  label, RoundedShare(value, reference), Duration(value).c_str());
    return buffer;
}

/// Exclusive time of the instrumentation zones below `node`, following zones into zones.
double InstrumentationBelow(const CallGraphNode& node, double timeScale)
{
    double sum = 0.0;
    for (const CallGraphNode* child : node.Children) {
        if (!child->GetFunction().IsInstrumentationZone())
            continue;
        sum += ComputeNodeFigures(*child, timeScale).Exclusive + InstrumentationBelow(*child, timeScale);
    }
    return sum;
}

} // namespace

NodeFigures ComputeNodeFigures(const CallGraphNode& node, double timeScale)
{
    NodeFigures figures;
    figures.Inclusive = node.InclusiveTime();
    double childInclusive = 0.0;
    double childExecuting = 0.0;
    constexpr auto kExecuting = static_cast<std::size_t>(EThreadState::Executing);
    for (const CallGraphNode* child : node.Children) {
        childInclusive += child->InclusiveTime();
        childExecuting += child->StateTimes[kExecuting];
    }
    figures.SelfTime = figures.Inclusive - std::min(figures.Inclusive, childInclusive);
    const double executing = node.StateTimes[kExecuting];
    const double selfExecuting = std::min(executing - std::min(executing, childExecuting), figures.SelfTime);
    const double sampled = static_cast<double>(node.GetSampleCount()) * timeScale;
    figures.Exclusive = std::min(sampled, selfExecuting);
    figures.UnknownExecuting = std::max(selfExecuting - sampled, 0.0);
    figures.UnknownWait = figures.SelfTime - selfExecuting;

    const ResolvedAddress function = node.GetFunction();
    if (function.GetKind() != ResolvedAddress::kKindPseudo && !function.HasInstrumentationFlag() &&
        !node.IsRoot())
        figures.SelfInstrumentation = InstrumentationBelow(node, timeScale);
    return figures;
}

std::string FormatTimeValue(double milliseconds, bool seconds)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", seconds ? milliseconds / 1000.0 : milliseconds);
    return buffer;
}

std::string FormatPercentage(double percent)
{
    if (percent > 0.0 && percent < 1.0)
        return "<1%";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%%", static_cast<int>(std::lround(percent)));
    return buffer;
}

int RoundedShare(double part, double whole)
{
    return whole > 0.0 ? static_cast<int>(std::lround(part / whole * 100.0)) : 0;
}

std::string InclusiveTooltip(const NodeFigures& figures)
{
    std::string text = Duration(figures.Inclusive) + "<br><table>";
    text += TableRow("Child", figures.ChildTime(), figures.Inclusive);
    text += TableRow("Self", figures.Exclusive, figures.Inclusive);
    if (HasVisibleUnit(figures.UnknownExecuting))
        text += TableRow("Unknown Executing", figures.UnknownExecuting, figures.Inclusive);
    if (HasVisibleUnit(figures.UnknownWait))
        text += TableRow("Unknown Wait", figures.UnknownWait, figures.Inclusive);
    return text + "</table>";
}

std::string ExclusiveTooltip(const NodeFigures& figures)
{
    const double total = figures.Exclusive + figures.SelfInstrumentation;
    std::string text = Duration(total);
    if (figures.SelfInstrumentation <= 0.0)
        return text;
    text += "<br><table>";
    text += TableRow("Self", figures.Exclusive, total);
    text +=
        TableRow("<p style='white-space:pre'>Self Instrumentation</p>", figures.SelfInstrumentation, total);
    return text + "</table>";
}

const char* FoldedRecursionTooltip()
{
    return "All time in this function has been folded into the root of the recursion";
}

const char* UnrootedStacksTooltip(bool nested)
{
    if (nested)
        return "<p style='white-space:pre'>The stacks under this node originate from incomplete stacktraces "
               "that didn't go all the way to the base function of the thread. This is a best estimate of "
               "where those stacks belong, but it may be incorrect.<br /><br />See the section <i>Unrooted "
               "stacks</i> in the documentation for detailed information.</p>";
    return "<p style='white-space:pre'>The stacks under this node originate from stacktraces that didn't go "
           "all the way to the base function of the thread.<br /><br />See the section <i>Unrooted "
           "stacks</i> in the documentation for detailed information.</p>";
}

const char* ThreadStateLabel(EThreadState state)
{
    static constexpr std::array<const char*, kThreadStateCount> kLabels{
        "UnknownWaitState", "Executing",       "IO",  "MemoryManagement", "Sleep",
        "Preemption",       "Synchronization", "Idle"};
    return kLabels[static_cast<std::size_t>(state)];
}

std::string ThreadStatesTooltip(const StateTimeArray& times, const std::vector<std::string>& stateColours)
{
    const double inclusive = SumStateTimes(times);
    std::array<int, kThreadStateCount> order{};
    for (int i = 0; i < kThreadStateCount; ++i)
        order[i] = i;
    // Stable, so equal times keep the states' own order.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return times[a] > times[b]; });
    std::string text = "<table>";
    for (int state : order) {
        if (times[state] == 0.0 || inclusive <= 0.0)
            continue;
        const std::string colour = state < static_cast<int>(stateColours.size()) ? stateColours[state] : "";
        char buffer[512];
        std::snprintf(buffer, sizeof buffer,
                      "<tr><td><font color=\"%s\">%s</font></td><td align='right'>%d%% </td><td><p "
                      "style='white-space:pre'>(%s)</p></td></tr>",
                      colour.c_str(), ThreadStateLabel(static_cast<EThreadState>(state)),
                      RoundedShare(times[state], inclusive), Duration(times[state]).c_str());
        text += buffer;
    }
    return text + "</table>";
}

std::vector<ResolvedAddress> CallPath(const CallGraphNode& node)
{
    std::vector<ResolvedAddress> path;
    for (const CallGraphNode* at = &node; at != nullptr && !at->IsRoot(); at = at->Parent)
        path.push_back(at->GetFunction());
    std::reverse(path.begin(), path.end());
    return path;
}

const CallGraphNode* FindNodeByPath(const CallGraphNode& root, const std::vector<ResolvedAddress>& path)
{
    if (path.empty())
        return nullptr;
    const CallGraphNode* at = &root;
    for (const ResolvedAddress& function : path) {
        at = at->FindChild(function);
        if (at == nullptr)
            return nullptr;
    }
    return at;
}

std::string FormatTextTable(const std::vector<std::string>& headers, const std::vector<TextTableRow>& rows)
{
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    for (const TextTableRow& row : rows) {
        std::vector<std::string> line = row.Cells;
        if (!line.empty())
            line[0].insert(0, static_cast<std::size_t>(3 * std::max(row.Level, 0)), ' ');
        cells.push_back(std::move(line));
    }
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t column = 0; column < headers.size(); ++column) {
        widths[column] = headers[column].size();
        for (const auto& line : cells)
            if (column < line.size())
                widths[column] = std::max(widths[column], line[column].size());
    }
    auto formatLine = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t column = 0; column < widths.size(); ++column) {
            const std::string& cell = column < line.size() ? line[column] : std::string();
            text += "  ";
            text += cell;
            text.append(widths[column] - std::min(widths[column], cell.size()), ' ');
        }
        return text;
    };
    const std::string header = formatLine(headers);
    std::string text = header + "\n" + std::string(header.size(), '-') + "\n";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i != 0)
            text += '\n';
        text += formatLine(cells[i]);
    }
    return text;
}

} // namespace Profiler
