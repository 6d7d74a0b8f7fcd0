#include "CallGraphModel/CallGraphReplay.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphDifference.h"
#include "CallGraphModel/CallGraphMultiOpenBarProcessor.h"
#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/ITraceEventSource.h"
#include "CallGraphModel/OpenBarProcessor.h"

#include <limits>

namespace Profiler {

std::unique_ptr<CallGraph> CallGraphReplay::Cumulative(const IOpenBarInput& input,
                                                       const std::vector<ThreadID>& threads, double time,
                                                       const std::atomic<bool>& canceled)
{
    // From before any event, so that events stamped before the capture's start count too.
    constexpr double kOrigin = std::numeric_limits<double>::lowest();
    auto graph = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
    CallGraphMultiOpenBarProcessor multi(input.CreateEventSource(), *graph);
    for (ThreadID thread : threads)
        multi.AddProcessor(std::make_unique<OpenBarProcessor>(input, thread, true,
                                                              OpenBarProcessor::kNoReportingInterval, kOrigin));
    if (!multi.Seek(kOrigin) || !multi.Replay(time, canceled) || !multi.Finish(time, canceled))
        return nullptr;
    return graph;
}

std::unique_ptr<CallGraph> CallGraphReplay::Range(const IOpenBarInput& input, const std::vector<ThreadID>& threads,
                                                  double start, double end, const std::atomic<bool>& canceled)
{
    std::unique_ptr<CallGraph> atStart = Cumulative(input, threads, start, canceled);
    std::unique_ptr<CallGraph> atEnd = atStart ? Cumulative(input, threads, end, canceled) : nullptr;
    if (!atEnd)
        return nullptr;
    auto result = std::make_unique<CallGraph>();
    if (!BuildDifference(&atStart->GetRoot(), atEnd->GetRoot(), result->GetRoot(), canceled))
        return nullptr;
    return result;
}

} // namespace Profiler
