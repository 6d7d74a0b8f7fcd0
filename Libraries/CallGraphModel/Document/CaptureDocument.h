#pragma once

#include "CallGraphModel/CallGraphModel.h"
#include "CaptureModel/Identifiers.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace RTTI {
class Registry;
}

namespace System {
class JobScheduler;
namespace Platform {
class FileLock;
}
} // namespace System

namespace Profiler {

class FunctionDisplayNames;
class Platform;
class PlatformRegistry;
class Session;
class SessionOpenBarInput;

/// An open capture as the tools and the views work with it: the loaded session, its call graph
/// model (made by processing the capture's events, or loaded when an earlier run stored a
/// current one), and the scheduler on which its queries run. Queries go through CaptureQueries.
///
/// One thread drives a document (Open, Process); queries may be submitted from that thread
/// while nothing is being processed.
class CaptureDocument {
public:
    /// Receives the fraction done whenever its whole percentage grows; false cancels.
    using ProgressCallback = std::function<bool(double fraction)>;
    /// Told once, before blocking, when another process holds the capture's write lock.
    using LockWaitCallback = std::function<void(const std::string& holder)>;

    enum class EProcessResult : uint8_t {
        Processed,        ///< the events were processed and the model stored
        AlreadyProcessed, ///< a stored model was current; nothing was done
        Canceled,         ///< the callback canceled; the model that was there is kept
        Failed,           ///< see the errors; the model that was there is kept
    };

    /// The state of the model stored beside the capture when it was opened.
    enum class EStoredModel : uint8_t {
        None,    ///< never processed
        Current, ///< loaded
        Stale,   ///< written before the capture's events were (an import into the same place)
        Damaged, ///< present but unreadable; see GetWarnings
    };

    /// Where a new model is built before it replaces the stored one.
    static constexpr const char* kBuildingFolderName = "CallGraph.building";

    /// `workerThreads` run the model's snapshot writing and the queries (0: one per core, at
    /// least two).
    explicit CaptureDocument(uint32_t workerThreads = 0);
    ~CaptureDocument();
    CaptureDocument(const CaptureDocument&) = delete;
    CaptureDocument& operator=(const CaptureDocument&) = delete;

    /// Opens the capture (a capture directory or its session file) and its stored model when
    /// there is a current one. Reads the session's small files only; call stacks and events are
    /// read on demand. False, with an error naming the file, when the capture is missing or one
    /// of the files every answer needs is missing or damaged.
    [[nodiscard]] bool Open(const std::filesystem::path& path, Serialization::ErrorList& errors);

    /// Processes the capture's events into a new call graph model beside the stored one and
    /// replaces it only when the new one is complete, unless a current model is stored already
    /// (or `force`). Holds the capture's write lock meanwhile, waiting for another writer to
    /// finish (`onWait` is told who). Blocks: run it off a user interface thread.
    [[nodiscard]] EProcessResult Process(const ProgressCallback& progress, Serialization::ErrorList& errors,
                                         bool force = false, const LockWaitCallback& onWait = {});

    /// Takes the write lock of a capture directory (held by whoever writes the capture: import,
    /// processing), waiting for the current holder; `onWait` is told who it is, once, before
    /// waiting. False with an error naming the directory when it cannot be taken.
    [[nodiscard]] static bool LockForWriting(const std::filesystem::path& directory,
                                             const LockWaitCallback& onWait, System::Platform::FileLock& lock,
                                             Serialization::ErrorList& errors);

    /// Whether a processed model is at hand.
    bool IsProcessed() const { return mModel != nullptr; }
    EStoredModel GetStoredModelState() const { return mStoredModel; }

    /// Problems found when opening that do not stop every answer (an optional file missing);
    /// tools print them with every command. Empty when the capture is whole.
    const Serialization::ErrorList& GetWarnings() const { return mWarnings; }
    /// Whether range answers are complete: false when the data that replaying events needs
    /// (broken stacks) is missing or damaged. Whole-capture answers do not depend on it.
    bool CanAnswerRanges() const { return mRangeProblem.IsEmpty(); }
    /// Why ranges cannot be answered (empty when they can).
    const Serialization::ErrorList& GetRangeProblem() const { return mRangeProblem; }

    const Session& GetSession() const { return *mSession; }
    const std::filesystem::path& GetPath() const;
    CallGraphModel* GetModel() const { return mModel.get(); }
    System::JobScheduler& GetScheduler() const { return *mScheduler; }
    const FunctionDisplayNames& GetFunctionNames() const { return *mNames; }
    std::shared_ptr<const FunctionDisplayNames> GetSharedFunctionNames() const { return mNames; }
    /// The threads that the model holds, ascending.
    std::vector<ThreadID> GetModelThreads() const;
    /// The end of the capture's time: the session's end or the last event's time, the later.
    double GetCaptureEndTime() const;
    /// The sampling interval of the capture, milliseconds.
    double GetSampleIntervalMs() const;

    /// Events handed to the processors by the last Process, and how many were samples.
    uint64_t GetProcessedEventCount() const { return mProcessedEvents; }
    uint64_t GetProcessedSampleCount() const { return mProcessedSamples; }
    /// Samples that the capture's event stream holds (counted when processing).
    uint64_t GetImportedSampleCount() const { return mImportedSamples; }

    /// The registry with every class that a capture and its model store.
    static RTTI::Registry& GetRegistry();

private:
    /// Loads the stored model when it is there and newer than the capture's events.
    void LoadStoredModel();
    /// Sorts the session's load warnings into fatal errors, range problems and warnings.
    bool CheckLoadedCapture(Serialization::ErrorList& errors);
    /// Moves the model built in kBuildingFolderName into place and loads it.
    bool ReplaceStoredModel(Serialization::ErrorList& errors);
    /// Cancels the queries in flight and waits for them: they read the model.
    void WaitForQueries();
    bool SaveSharedModel(Serialization::ErrorList& errors);
    CallGraphModelContext MakeContext(const std::filesystem::path& directory) const;

    std::unique_ptr<PlatformRegistry> mPlatforms;
    std::unique_ptr<Session> mSession;
    const Platform* mPlatform = nullptr; // not owned
    std::shared_ptr<SessionOpenBarInput> mInput;
    std::shared_ptr<FunctionDisplayNames> mNames;
    std::unique_ptr<System::JobScheduler> mScheduler;
    std::unique_ptr<CallGraphModel> mModel;
    EStoredModel mStoredModel = EStoredModel::None;
    Serialization::ErrorList mWarnings;
    Serialization::ErrorList mRangeProblem;
    uint64_t mProcessedEvents = 0;
    uint64_t mProcessedSamples = 0;
    uint64_t mImportedSamples = 0;
};

} // namespace Profiler
