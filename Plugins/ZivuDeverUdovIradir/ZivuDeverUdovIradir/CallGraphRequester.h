#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CaptureModel/Identifiers.h"

#include <QMetaType>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace System {
class JobScheduler;
}

namespace Profiler {

class CallGraphManager;
class CaptureDocument;
class IFunctionInfoProvider;

/// The request that produced a graph, carried with it to the panels: StartTime, EndTime and
/// Depth of the requested range, the threads, and why the view asked (`ERequestReason`).
struct CallGraphInputParameters {
    double StartTime = 0.0;
    double EndTime = 0.0;
    int32_t Depth = 0;
    std::vector<ThreadID> ThreadIDs;
    uint8_t Reason = 0;
    bool HasBar = false;
};

/// Why the view asked for a graph; the call graph panel selects its rows after a rebuild for
/// everything but SessionOpened and FilterCleared.
enum class ERequestReason : uint8_t {
    SessionOpened = 0,
    ThreadSelectionChanged = 1,
    RangeSelected = 2,
    BarSelected = 3,
    ThreadLaneSelected = 4,
    FilterCleared = 5,
    ShowPanel = 6,
};

/// How a request ended.
struct CallGraphAnswer {
    CallGraphInputParameters Parameters;
    std::shared_ptr<const CallGraph> Graph; ///< null when canceled or failed
    bool Canceled = false;
    std::string Error; ///< why it failed; empty otherwise
};

/// Where a view's requests go. Implementations never block the calling (user interface)
/// thread; each submission supersedes the previous one, which then completes as canceled; every
/// completion runs later on the thread that submitted.
class ICallGraphRequester {
public:
    virtual ~ICallGraphRequester() = default;
    virtual void Submit(const CallGraphInputParameters& request,
                        std::function<void(CallGraphAnswer)> completion) = 0;
    virtual void CancelAll() = 0;

    /// What the panels need besides the graphs: the names of functions and modules, the
    /// scheduler for their own jobs and the capture's sampling interval. A requester without a
    /// document answers null and 0.
    virtual std::shared_ptr<const IFunctionInfoProvider> GetFunctionNames() const { return nullptr; }
    virtual System::JobScheduler* GetScheduler() const { return nullptr; }
    virtual double GetSampleIntervalMs() const { return 0.0; }
};

/// A requester that asks a processed capture document, completing through `context`'s event
/// loop (the document's own queries cancel superseded requests).
std::unique_ptr<ICallGraphRequester> MakeDocumentRequester(CaptureDocument& document, QObject* context,
                                                           CallGraphManager& manager);

} // namespace Profiler

Q_DECLARE_METATYPE(Profiler::CallGraphInputParameters)
Q_DECLARE_METATYPE(std::shared_ptr<const Profiler::CallGraph>)
