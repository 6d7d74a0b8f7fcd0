#pragma once

#include "CallGraphModel/BuildListJob.h"
#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphModel.h"
#include "CaptureModel/Identifiers.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace RTTI {
class Registry;
}

namespace System {
class JobScheduler;
}

namespace Profiler {

class FunctionDisplayNames;
class Platform;
class PlatformRegistry;
class Session;
class SessionOpenBarInput;

/// An open capture as the host works with it: the loaded session, its call graph model (made
/// by processing the capture's events, or loaded when an earlier run stored it), and the
/// queries that the tools and views ask of it, run as jobs on the document's scheduler.
///
/// One thread drives a document; queries may run while nothing is being processed.
class CaptureDocument {
public:
    /// Which threads and time range a query covers.
    struct Selection {
        std::vector<ThreadID> threads; ///< empty: every thread of the model
        double from = 0.0;
        double to = CallGraphModel::kEndOfCapture; ///< kEndOfCapture: the whole capture (from unused)
        bool IsWholeCapture() const { return to == CallGraphModel::kEndOfCapture; }
    };

    /// Receives the fraction done whenever its whole percentage grows; false cancels.
    using ProgressCallback = std::function<bool(double fraction)>;

    enum class EProcessResult : uint8_t {
        Processed,        ///< the events were processed and the model stored
        AlreadyProcessed, ///< a stored model was current; nothing was done
        Canceled,         ///< the callback canceled; nothing was stored
        Failed,           ///< see the errors; nothing was stored
    };

    /// `workerThreads` run the model's snapshot writing and the queries (0: one per core, at
    /// least two).
    explicit CaptureDocument(uint32_t workerThreads = 0);
    ~CaptureDocument();
    CaptureDocument(const CaptureDocument&) = delete;
    CaptureDocument& operator=(const CaptureDocument&) = delete;

    /// Loads the capture (a capture directory or its session file) and its stored model when
    /// there is a current one. False, with one error naming the file, when the capture is
    /// missing or cannot be read.
    bool Open(const std::filesystem::path& path, Serialization::ErrorList& errors);

    /// Processes the capture's events into a new call graph model and stores it beside the
    /// capture, unless a current model is stored already (or `force`).
    EProcessResult Process(const ProgressCallback& progress, Serialization::ErrorList& errors,
                           bool force = false);
    /// Whether a processed model is at hand.
    bool IsProcessed() const { return mModel != nullptr; }

    /// The call graph of the selection, threads merged at the root; null with errors when the
    /// capture is not processed or the model cannot be read. The threads of a range are split
    /// over the scheduler's workers, one call graph request each, and the parts merged.
    std::unique_ptr<CallGraph> QueryCallGraph(const Selection& selection, Serialization::ErrorList& errors);
    /// The function list of a graph (nodes from `minimumDepth` on), largest inclusive time first.
    std::unique_ptr<BuildListData> QueryFunctionList(std::shared_ptr<const CallGraph> graph,
                                                     Serialization::ErrorList& errors,
                                                     int32_t minimumDepth = 0);

    const Session& GetSession() const { return *mSession; }
    const std::filesystem::path& GetPath() const;
    CallGraphModel* GetModel() const { return mModel.get(); }
    const FunctionDisplayNames& GetFunctionNames() const { return *mNames; }
    /// The threads that the model holds, ascending.
    std::vector<ThreadID> GetModelThreads() const;
    /// The end of the capture's time: the session's end or the last event's time, the later.
    double GetCaptureEndTime() const;

    /// Events handed to the processors by the last Process, and how many were samples.
    uint64_t GetProcessedEventCount() const { return mProcessedEvents; }
    uint64_t GetProcessedSampleCount() const { return mProcessedSamples; }

    /// The registry with every class that a capture and its model store.
    static RTTI::Registry& GetRegistry();

private:
    /// Loads the stored model when it is there and newer than the capture's events.
    bool LoadStoredModel(Serialization::ErrorList& errors);
    bool SaveSharedModel(Serialization::ErrorList& errors);
    CallGraphModelContext MakeContext() const;

    std::unique_ptr<PlatformRegistry> mPlatforms;
    std::unique_ptr<Session> mSession;
    const Platform* mPlatform = nullptr; // not owned
    std::shared_ptr<SessionOpenBarInput> mInput;
    std::shared_ptr<FunctionDisplayNames> mNames;
    std::unique_ptr<System::JobScheduler> mScheduler;
    std::unique_ptr<CallGraphModel> mModel;
    uint64_t mProcessedEvents = 0;
    uint64_t mProcessedSamples = 0;
};

} // namespace Profiler
