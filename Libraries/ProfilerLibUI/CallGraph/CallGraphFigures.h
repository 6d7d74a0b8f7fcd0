#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CaptureModel/ResolvedAddress.h"

#include <string>
#include <vector>

// The figures and texts that every presentation of a call graph node shares: the tree panel,
// its tooltips, its clipboard tables and the command-line tools that print the same numbers.

namespace Profiler {

/// What a node's inclusive time is made of. Every figure is in milliseconds; together
/// Child + Self + UnknownExecuting + UnknownWait = Inclusive (Self is the sampled part).
struct NodeFigures {
    double Inclusive = 0.0;
    /// Inclusive time not spent in children (never below 0).
    double SelfTime = 0.0;
    /// The sampled exclusive time: sample count times the sampling interval, at most the
    /// node's own executing time.
    double Exclusive = 0.0;
    double UnknownExecuting = 0.0;
    double UnknownWait = 0.0;
    /// Exclusive time of instrumentation zones directly (or through further zones) below.
    double SelfInstrumentation = 0.0;

    double ChildTime() const { return Inclusive - SelfTime; }
};

/// Figures of `node` for a capture sampled every `timeScale` milliseconds.
NodeFigures ComputeNodeFigures(const CallGraphNode& node, double timeScale);

/// "%.2f" of milliseconds, or of seconds when `seconds` is set.
std::string FormatTimeValue(double milliseconds, bool seconds);
/// A percentage as the panels print it: "<1%" strictly between 0 and 1, otherwise rounded "%d%%".
std::string FormatPercentage(double percent);
/// `part` as a rounded percentage of `whole` (0 when `whole` is not positive).
int RoundedShare(double part, double whole);

/// The HTML tooltip texts of one tree row.
std::string InclusiveTooltip(const NodeFigures& figures);
std::string ExclusiveTooltip(const NodeFigures& figures);
/// The sentence shown for a node whose time was folded into the root of its recursion.
const char* FoldedRecursionTooltip();
/// The explanation of the unrooted stacks pseudo-function; `nested` when it is not top-level.
const char* UnrootedStacksTooltip(bool nested);
/// One row per state with time, by decreasing time, in the state's colour (a "#rrggbb" name per
/// state, indexed by EThreadState).
std::string ThreadStatesTooltip(const StateTimeArray& times, const std::vector<std::string>& stateColours);
/// The name a thread state has in the panels' tables.
const char* ThreadStateLabel(EThreadState state);

/// The functions from the top-level node down to `node`; the root never appears.
std::vector<ResolvedAddress> CallPath(const CallGraphNode& node);
/// The node reached from `root` by following, level by level, the first child of each function
/// of `path`; null when the path leaves the graph or is empty.
const CallGraphNode* FindNodeByPath(const CallGraphNode& root, const std::vector<ResolvedAddress>& path);

/// One row of a clipboard table: its cells and its indentation level (function column only).
struct TextTableRow {
    std::vector<std::string> Cells;
    int Level = 0;
};
/// The aligned plain-text table of the copy commands: a header line, a rule of '-' as long as
/// it, then one line per row; each cell is padded by two blanks and left-justified.
std::string FormatTextTable(const std::vector<std::string>& headers, const std::vector<TextTableRow>& rows);

} // namespace Profiler
