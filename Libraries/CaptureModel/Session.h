#pragma once

#include "CaptureModel/CallstackDatabase.h"
#include "CaptureModel/Identifiers.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/Platform.h"
#include "CaptureModel/PlatformSession.h"
#include "CaptureModel/Process.h"
#include "CaptureModel/ResolvedFrame.h"
#include "CaptureModel/SessionInfo.h"
#include "CaptureModel/Thread.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace RTTI {
class ObjectFactory;
}

namespace Profiler {

class BrokenStackReader;
class CallstackNodeStore;
class CaptureWriter;
class Model;
class SharedModel;
class StackResolver;
class TraceEventStream;
struct TraceEvent;

/// The key of the compatibility maps, stored as a 32-bit integer named "int".
QX_RTTI_IDENTIFIER(CompatibilityKey, int32_t, "int");

/// A plugin that reads sessions: registers its own classes and compatibility handlers before a
/// session file is read. Handlers must outlive the read.
class SessionPlugin {
public:
    virtual ~SessionPlugin() = default;
    virtual void RegisterSessionTypes(RTTI::Registry& registry,
                                      Serialization::CompatibilityHandlerMap& handlers) = 0;
};

/// Receives a session's events while it is reprocessed: the layer that runs a processor per
/// thread and drives the models' thread calls.
class IReprocessHandler {
public:
    virtual ~IReprocessHandler() = default;
    /// Before the first event, after every model began processing.
    virtual bool BeginReprocessing(std::span<Model* const> models, Serialization::ErrorList& errors) = 0;
    /// One event, in time order; zone events included.
    virtual bool HandleEvent(const TraceEvent& event, Serialization::ErrorList& errors) = 0;
    /// The thread has no events after those handed out so far (told once per thread, as soon
    /// as reading has passed the last chunk that holds its events). Nothing by default.
    virtual bool FinishThread(ThreadID, Serialization::ErrorList&) { return true; }
    /// After the last event: end every thread.
    virtual bool EndReprocessing(Serialization::ErrorList& errors) = 0;
};

/// A loaded capture: its processes and threads, modules, call stacks, events, broken stack
/// ranges and shared model, as stored in a capture directory beside the session file.
///
/// After loading, every const operation may be called from several threads at once.
class Session : public RTTI::Object {
public:
    QX_RTTI_CLASS(Session);

    static constexpr const char* kExtension = ".session";

    Session();
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// The session file of a path: the path itself when it ends in ".session", the one
    /// "*.session" file of a capture directory, else "STEM.session" beside the path.
    static std::filesystem::path GetSessionFilePath(const std::filesystem::path& path);

    /// Loads a session file and its capture directory. Returns 0 and hands over the session and
    /// its platform, or returns 1 with one error record and nothing handed over.
    static int sLoad(const std::filesystem::path& path, RTTI::Registry& registry,
                     const RTTI::ObjectFactory& factory, std::span<SessionPlugin* const> plugins,
                     const PlatformLookup& platforms, std::unique_ptr<Session>& outSession,
                     const Platform*& outPlatform, Serialization::ErrorList& errors);

    /// Saves, stopping at the first failure: the shared model, every registered model, the
    /// event stream index, "CallstackDatabase.dat" and the session file.
    bool Save(Serialization::ErrorList& errors);

    /// Reads every event in time order into `handler` and the registered models, which first
    /// delete what they stored and afterwards are finished (not saved). `progress` receives the
    /// fraction done whenever its whole percentage grows. Logs the time taken.
    bool Reprocess(IReprocessHandler& handler, const std::function<void(double)>& progress,
                   Serialization::ErrorList& errors);
    /// Produces "stacks.dat" and "stacks.index" anew from the events and the platform's
    /// rootedness, and opens them.
    bool RebuildBrokenStacks(Serialization::ErrorList& errors);

    /// Models are not owned; they are saved and reprocessed with the session.
    void RegisterModel(Model& model);
    void UnregisterModel(Model& model);
    const std::vector<Model*>& GetModels() const { return mModels; }

    // Paths.
    const std::filesystem::path& GetPath() const { return mPath; }
    std::filesystem::path GetDirectory() const { return mPath.parent_path(); }
    /// "DIRECTORY/Model.dat" in the session directory.
    std::filesystem::path GetModelPath(const std::string& directoryName) const;

    // Processes and threads.
    const SessionInfo& GetInfo() const { return mInfo; }
    SessionInfo& GetInfo() { return mInfo; }
    double GetSampleIntervalMs() const { return mInfo.mSampleIntervalMs; }
    double GetStartTimeMs() const { return mInfo.mSessionStartTimeMs; }
    double GetEndTimeMs() const { return mInfo.mSessionEndTimeMs; }
    const std::vector<Process>& GetProcessList() const { return mProcessList; }
    const std::vector<Thread>& GetThreadList() const { return mThreadList; }
    const std::vector<Process>& GetNonCapturedProcesses() const { return mNonCapturedProcesses; }
    const std::map<CompatibilityKey, CompatibilityKey>& GetThreadCompatibilityMap() const
    {
        return mThreadCompatibilityMap;
    }
    const std::map<CompatibilityKey, CompatibilityKey>& GetProcessCompatibilityMap() const
    {
        return mProcessCompatibilityMap;
    }
    const Thread* FindThread(int32_t threadId) const;
    const Process* FindProcess(int32_t processId) const;
    /// The start of a thread's time: its start time, or the capture's start when it started
    /// before the capture or is unknown.
    double GetThreadStartTimeMs(int32_t threadId) const;

    // Modules and stacks.
    const ModuleDatabase& GetModuleDatabase() const { return mModuleDatabase; }
    ModuleDatabase& GetModuleDatabase() { return mModuleDatabase; }
    /// Whether stacks live in "CallstackDatabase.dat" (false for captures without one).
    bool UsesNodeStore() const;
    const CallstackNodeStore* GetNodeStore() const { return mNodeStore.get(); }
    const CallstackDatabase& GetCallstackDatabase() const { return mCallstackDatabase; }
    /// The frame addresses of a stack, outermost first; false when it is unknown.
    bool GetCallstack(uint64_t stackId, std::vector<uint64_t>& frames) const;
    /// The frames of a stack resolved to functions as seen by `process`, outermost first;
    /// remembered per stack node, so a node resolves once per process.
    bool ResolveStack(int32_t process, uint64_t stackId, double time,
                      std::vector<ResolvedFrame>& frames) const;
    /// Whether the platform counts the stack as rooted (unknown and empty stacks are not);
    /// remembered per outermost node.
    bool IsStackRooted(int32_t process, uint64_t stackId, double time) const;
    const StackResolver* GetStackResolver() const { return mStackResolver.get(); }

    // Events, broken stacks, shared state.
    const TraceEventStream* GetTraceEventStream() const { return mEventStream.get(); }
    /// The broken stack ranges; null when the capture has none.
    const BrokenStackReader* GetBrokenStackReader() const { return mBrokenStacks.get(); }
    SharedModel* GetSharedModel() const { return mSharedModel.get(); }
    const PlatformSession* GetPlatformSession() const { return mPlatformSession.get(); }
    PlatformSession* GetPlatformSession() { return mPlatformSession.get(); }
    const Platform* GetPlatform() const { return mPlatform; }
    /// Problems met while loading that did not stop it (a missing event stream, say); they are
    /// also logged.
    const Serialization::ErrorList& GetLoadWarnings() const { return mLoadWarnings; }

private:
    friend class CaptureWriter;
    friend class SessionCompatibilityHandler;

    /// Finishes a session read from its file: stacks, events, modules, platform session, broken
    /// stacks and the shared model.
    bool Finish(const Platform& platform, const RTTI::Registry& registry, Serialization::ErrorList& errors);
    /// Whether the stack is rooted; none when it is unknown or empty.
    std::optional<bool> FindRootedness(int32_t process, uint64_t stackId, double time) const;
    /// Rebuilds the thread and process lookups and the stack resolver.
    void BuildIndexes();
    void AddWarning(Serialization::ErrorList& source);

    // Stored.
    std::map<CompatibilityKey, CompatibilityKey> mThreadCompatibilityMap;
    std::map<CompatibilityKey, CompatibilityKey> mProcessCompatibilityMap;
    std::vector<Process> mProcessList;
    std::vector<Thread> mThreadList;
    std::vector<Process> mNonCapturedProcesses;
    ModuleDatabase mModuleDatabase;
    CallstackDatabase mCallstackDatabase;
    std::unique_ptr<PlatformSession> mPlatformSession;

    // In memory.
    std::filesystem::path mPath;
    SessionInfo mInfo;
    std::unique_ptr<CallstackNodeStore> mNodeStore;
    std::unique_ptr<TraceEventStream> mEventStream;
    std::unique_ptr<BrokenStackReader> mBrokenStacks;
    std::unique_ptr<SharedModel> mSharedModel;
    const Platform* mPlatform = nullptr; // not owned
    std::vector<Model*> mModels;         // not owned
    std::unordered_map<int32_t, std::size_t> mThreadIndex;
    std::unordered_map<int32_t, std::size_t> mProcessIndex;
    std::unique_ptr<StackResolver> mStackResolver;
    Serialization::ErrorList mLoadWarnings;
};

} // namespace Profiler
