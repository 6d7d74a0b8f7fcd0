#pragma once

// Call graph fixtures as text. One stack per line, outermost frame first, then its figures:
//
//   main;work;leaf 3                       3 ms Executing on main, work and leaf
//   main;work 1 Sleep=2 IO=0.5             1 ms Executing, 2 ms Sleep, 0.5 ms IO on main and work
//   main;work;leaf@0x40 0 samples=0x10:2   leaf called from 0x40; two samples at 0x10 in leaf
//   main;!zone 1                           '!' marks an instrumentation zone
//
// Times go to every frame of the stack (as closed bars do), samples only to the innermost one.
// '#' starts a comment. The dump prints one node per line, two spaces of indent per level:
//
//   name[@0xcaller] inclusive [State=time ...] [{0xaddress:count ...}]
//
// with the per-state times listed only when some state other than Executing has time.

#include "CallGraphModel/CallGraphNode.h"

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace CallGraphTest {

/// Gives every function name of a fixture a stable key, and back.
class FunctionNames {
public:
    Profiler::ResolvedAddress Get(const std::string& name);
    std::string GetName(const Profiler::ResolvedAddress& function) const;

private:
    std::vector<std::string> mNames;
};

/// Adds the fixture's stacks to the tree below `root`; fails the running test on a syntax error.
void AddStacks(Profiler::CallGraphNode& root, const std::string& text, FunctionNames& names);

/// Extra text appended to a node's dump line (derived node fields).
using NodeAnnotation = std::function<std::string(const Profiler::CallGraphNode&)>;

/// The children of `root` and their subtrees, children in their stored order.
std::string Dump(const Profiler::CallGraphNode& root, const FunctionNames& names,
                 const NodeAnnotation& annotate = {});
/// The same with siblings sorted by their text, for trees whose child order may differ.
std::string SortedDump(const Profiler::CallGraphNode& root, const FunctionNames& names);

/// Shortest text that reads back as exactly `value`.
std::string FormatNumber(double value);

/// Adds `times` along `frames` below `root` (each frame a child found or created by full key) and
/// `samples` to the innermost frame.
struct Frame {
    Profiler::ResolvedAddress function;
    uint64_t callerAddress = Profiler::kUnknownCallerAddress;
};
Profiler::CallGraphNode& AddStack(Profiler::CallGraphNode& root, const std::vector<Frame>& frames,
                                  const Profiler::StateTimeArray& times,
                                  const std::vector<Profiler::AddressSample>& samples = {});

/// The stored record of the tree below `root`, and the tree read back into `root` (added to it).
std::vector<uint8_t> SerializeTree(const Profiler::CallGraphNode& root);
bool DeserializeAdd(Profiler::CallGraphNode& root, std::span<const uint8_t> bytes,
                    Serialization::ErrorList& errors);

/// Compares two call graphs by key (children in any order): times within `tolerance` relative
/// to the larger of the two figures and of the matching node in `scale` (null: the figures
/// alone), samples exactly. A node missing on one side is accepted when its time is within the
/// tolerance (counted in `lenientNodes`). Returns an empty string when they match, else the
/// first difference.
std::string CompareGraphs(const Profiler::CallGraphNode& expected, const Profiler::CallGraphNode& actual,
                          const Profiler::CallGraphNode* scale, double tolerance, const FunctionNames& names,
                          std::size_t* lenientNodes = nullptr);

} // namespace CallGraphTest
