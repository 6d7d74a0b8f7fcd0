#pragma once

// Generated captures for the runtime tests, and call graph comparisons against a replay of the
// capture's events from its start without any snapshot.

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphText.h"
#include "CallGraphModel/Document/CallGraphRequests.h"
#include "CaptureModel/Identifiers.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Profiler {
class CaptureDocument;
}

namespace RuntimeTest {

/// A synthetic capture (three threads, 12 s at 1 kHz, switches, zones and unrooted stacks)
/// written once per test program into a temporary directory; copies are made per test.
const std::filesystem::path& SharedCapture();
/// A copy of the shared capture at `target` (without any processed model).
void CopyCapture(const std::filesystem::path& target);
/// A copy of the shared capture, processed once per test program; tests that damage it copy it.
const std::filesystem::path& ProcessedCapture();

/// G(end) - G(start) of the threads, by replaying every event from the capture's start;
/// the whole capture when `end` is the end of capture.
std::unique_ptr<Profiler::CallGraph> ReplayRange(const Profiler::CaptureDocument& document,
                                                 const std::vector<Profiler::ThreadID>& threads, double start,
                                                 double end);

/// Runs one query through CaptureQueries with the inline executor and waits for its completion.
Profiler::CallGraphResult Query(Profiler::CaptureDocument& document, Profiler::CallGraphRequest request);
/// A request for the threads over [from, to] (the whole capture when `to` is the end of capture).
Profiler::CallGraphRequest Range(std::vector<Profiler::ThreadID> threads, double from, double to);

/// The first difference between two graphs ("" when none): children matched by function and call
/// site, times within `tolerance` relative to the figures, samples exactly.
inline std::string CompareGraphs(const Profiler::CallGraphNode& expected,
                                 const Profiler::CallGraphNode& actual, double tolerance)
{
    static const CallGraphTest::FunctionNames kUnnamed;
    return CallGraphTest::CompareGraphs(expected, actual, nullptr, tolerance, kUnnamed);
}

} // namespace RuntimeTest
