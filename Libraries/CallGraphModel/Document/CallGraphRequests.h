#pragma once

#include "CallGraphModel/BuildListJob.h"
#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphModel.h"
#include "CaptureModel/Identifiers.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Profiler {

/// Runs a completion where its caller wants it: inline on the job's thread (a command-line tool
/// that waits on its own latch), or posted to a user interface thread's event loop. An executor
/// must run every task it is given exactly once and must not block on the query that gave it.
using Executor = std::function<void(std::function<void()>)>;

/// Runs each task at once on the thread that hands it over.
Executor MakeInlineExecutor();

/// One call on a thread's timeline: its depth and time range.
struct SelectedBar {
    int32_t Depth = 0;
    double StartTime = 0.0;
    double EndTime = 0.0;
};

/// What a call graph is asked for. A plain value: copy it, keep it, compare it with the request
/// a result answers.
struct CallGraphRequest {
    /// Threads to merge at the root; empty asks for every thread of the model. A thread named
    /// twice counts once.
    std::vector<ThreadID> Threads;
    double From = 0.0;
    /// kEndOfCapture: the whole capture (From unused).
    double To = CallGraphModel::kEndOfCapture;
    /// When a bar is selected the graph covers the bar's time instead of [From, To], and its
    /// depth is the minimum depth that the function list and timing use.
    std::optional<SelectedBar> Bar;
    /// Carried for the requester (why the view asked), never used by building.
    uint8_t Reason = 0;
    /// Set by the requester when the request is submitted; increases with every submission of
    /// one requester, so that a result can be matched to the newest request.
    uint64_t Generation = 0;

    /// The time range that is built: the bar's when there is one.
    double EffectiveFrom() const { return Bar ? Bar->StartTime : From; }
    double EffectiveTo() const { return Bar ? Bar->EndTime : To; }
    bool IsWholeCapture() const { return EffectiveTo() == CallGraphModel::kEndOfCapture; }
    int32_t MinimumDepth() const { return Bar ? Bar->Depth : 0; }
};

/// How a request ended. Canceled is no error: a newer request or the document's closing
/// superseded it.
enum class EQueryOutcome : uint8_t { Graph, Error, Canceled };

/// The answer to one call graph request: exactly one of a graph, an error or canceled.
struct CallGraphResult {
    CallGraphRequest Request; ///< the request answered, with its generation
    EQueryOutcome Outcome = EQueryOutcome::Canceled;
    std::shared_ptr<const CallGraph> Graph; ///< set only when Outcome is Graph
    Serialization::ErrorList Errors;        ///< not empty only when Outcome is Error
};

/// What a function list is asked for: the list of a graph (from a call graph result).
struct FunctionListRequest {
    std::shared_ptr<const CallGraph> Graph;
    /// Nodes shallower than this are left out (the selected bar's depth).
    int32_t MinimumDepth = 0;
    uint64_t Generation = 0; ///< set by the requester, as for call graphs
};

struct FunctionListResult {
    FunctionListRequest Request;
    EQueryOutcome Outcome = EQueryOutcome::Canceled;
    std::shared_ptr<const BuildListData> Data; ///< set only when Outcome is Graph
    Serialization::ErrorList Errors;           ///< not empty only when Outcome is Error
};

using CallGraphCompletion = std::function<void(CallGraphResult)>;
using FunctionListCompletion = std::function<void(FunctionListResult)>;

} // namespace Profiler
