#pragma once

#include "CallGraphModel/Document/CallGraphRequests.h"

#include <cstdint>
#include <memory>

namespace Profiler {

class CaptureDocument;

/// One requester's stream of queries against an open, processed capture: a view, or one run of
/// a command. Each new call graph request cancels the requester's previous one (and likewise for
/// function lists) without waiting for it: the superseded request completes as Canceled, and a
/// result that finishes after a newer request was submitted is dropped in its favour.
///
/// Every submitted request completes exactly once, through its completion, on the executor
/// given here, and from a job's thread rather than inside the Submit call (only a scheduler that
/// is shutting down completes a request as Canceled at once). Submit never blocks on running
/// queries, so it is safe on a user interface thread.
///
/// The document must outlive the requester. Destroying the requester cancels what it has in
/// flight; completions already handed to the executor see Canceled.
class CaptureQueries {
public:
    CaptureQueries(CaptureDocument& document, Executor executor);
    ~CaptureQueries();
    CaptureQueries(const CaptureQueries&) = delete;
    CaptureQueries& operator=(const CaptureQueries&) = delete;

    /// Starts building the graph of `request` (its Generation is overwritten) and returns the
    /// generation given to it. A request that cannot start (capture not processed, unknown
    /// thread) completes with an Error naming why.
    uint64_t SubmitCallGraph(CallGraphRequest request, CallGraphCompletion completion);
    /// Starts building the function list of a graph; returns its generation.
    uint64_t SubmitFunctionList(FunctionListRequest request, FunctionListCompletion completion);

    /// Cancels whatever is in flight; its completions see Canceled.
    void CancelAll();

    /// The generation of the newest call graph request (0 before the first).
    uint64_t GetCallGraphGeneration() const;
    uint64_t GetFunctionListGeneration() const;

    struct State; ///< shared with the jobs in flight, which may outlive the requester

private:
    CaptureDocument& mDocument; // not owned
    std::shared_ptr<State> mState;
};

} // namespace Profiler
