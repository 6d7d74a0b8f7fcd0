#pragma once

#include "CallGraphModel/CallGraphThread.h"
#include "CallGraphModel/CallGraphThreadProcessingState.h"
#include "CallGraphModel/ResolvedStackCache.h"
#include "CallGraphModel/SnapshotFile.h"
#include "CaptureModel/Identifiers.h"
#include "CaptureModel/Model.h"
#include "System/Job.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace RTTI {
class Registry;
}

namespace System {
class JobScheduler;
}

namespace Profiler {

class IOpenBarInput;

/// What a call graph model needs of its session.
struct CallGraphModelContext {
    std::filesystem::path SessionDirectory;     ///< the model lives in its "CallGraph" folder
    System::JobScheduler* Scheduler = nullptr;  ///< not owned; runs the writing job and the queries
    std::shared_ptr<const IOpenBarInput> Input; ///< the capture, replayed by queries
};

/// The plugin's capture model: turns the bars that each thread's processor closes into a
/// per-thread call graph, stores it every 5000 ms of capture time as a snapshot (Full or Delta,
/// chosen by what each costs, see WriteBatch) in "Snapshots.dat", and answers call graph requests for any set
/// of threads and time range from those snapshots and a replay of the events since.
///
/// The host calls Progress before it hands the thread its events at that time, so a snapshot
/// taken at time t holds exactly the events before t; it ends a thread only after the thread's
/// last event. EndThread closes the processor's open bars first, so that the thread's final
/// snapshot holds all of its time. Request groups are ids from 2^30 up (see GetCallGraph).
class CallGraphModel final : public Model {
    QX_RTTI_CLASS(CallGraphModel);

    static constexpr const char* kFolderName = "CallGraph";
    static constexpr const char* kSourceFolderName = "Source";
    static constexpr const char* kModelFileName = "Model.dat";
    static constexpr const char* kSnapshotsFileName = "Snapshots.dat";
    static constexpr double kSnapshotIntervalMs = 5000.0;
    /// What reading one more record costs beyond its bytes (a seek, a read, a decompression),
    /// in record bytes; keeps a thread that changes little from piling up tiny Deltas.
    static constexpr uint64_t kRecordOverheadBytes = 4096;
    /// The time of each thread's final snapshot, and the end time of whole-capture requests.
    static constexpr double kEndOfCapture = std::numeric_limits<double>::max();

    /// A request for the call graph of a set of threads over [start time, end time]. Views
    /// derive their request state from it; the building job calls it on its thread.
    class GetCallGraphOperation {
    public:
        GetCallGraphOperation(double startTime, double endTime, int32_t depth, std::vector<ThreadID> threads,
                              uint8_t reason)
            : mStartTime(startTime), mEndTime(endTime), mDepth(depth), mThreads(std::move(threads)),
              mReason(reason)
        {}
        virtual ~GetCallGraphOperation() = default;

        /// The job has begun.
        virtual void Started() {}
        /// The job has ended: the result (null when canceled or when the model could not be
        /// read, see mErrors) and whether it was canceled.
        virtual void Completed(std::unique_ptr<CallGraph> result, bool canceled) = 0;

        double mStartTime;
        double mEndTime; ///< kEndOfCapture requests the whole capture
        int32_t mDepth;  ///< carried for the requester
        std::vector<ThreadID> mThreads;
        uint8_t mReason; ///< carried for the requester
        /// Why a result is missing when Completed gets none without being canceled.
        Serialization::ErrorList mErrors;
    };

    /// A model for the session; creates its "CallGraph" folder.
    explicit CallGraphModel(CallGraphModelContext context);

    /// Registers the model's classes and every class they refer to.
    static void RegisterTypes(RTTI::Registry& registry);
    /// Waits for the writing job.
    ~CallGraphModel() override;

    // Model
    ThreadProcessingState* BeginThread(OpenBarProcessor& processor) override;
    bool EndThread(OpenBarProcessor& processor, Serialization::ErrorList& errors) override;
    /// Threads without events since their last snapshot, and threads with no snapshot yet.
    bool CanEndThreadEarly(const ThreadProcessingState& state) const override;
    /// Ends the thread as EndThread does; a thread with events since the last tick keeps the
    /// record of its first snapshot for the next tick, which would have taken it.
    bool EndThreadEarly(OpenBarProcessor& processor, Serialization::ErrorList& errors) override;
    bool Progress(const ProcessingProgress& progress, ThreadProcessingState& state,
                  Serialization::ErrorList& errors) override;
    bool BeginProcessing(Serialization::ErrorList& errors) override;
    /// Drops the snapshots that ended threads kept for a tick that did not come.
    void EndProcessing() override;
    bool DeleteStoredData(Serialization::ErrorList& errors) override;
    bool Save(Serialization::ErrorList& errors) override;

    /// Stops processing without ending the threads still open (the host gave up): waits for the
    /// writing job and forgets their processing states, so their routers let go of the host's
    /// processors. Their snapshots so far stay; they get no final snapshot.
    void AbandonProcessing();

    /// Schedules the request as a BuildCallGraphJob in the group of `previous` (a new group when
    /// it is invalid), after canceling that group's jobs and waiting for them to return. Returns
    /// the job's handle, or the invalid handle when the scheduler refused it (the request then
    /// completed as canceled).
    System::JobHandle GetCallGraph(std::unique_ptr<GetCallGraphOperation> request,
                                   const System::JobHandle& previous);

    const std::filesystem::path& GetDirectory() const { return mDirectory; }
    const CallGraphModelContext& GetContext() const { return mContext; }
    const SnapshotFile& GetSnapshotFile() const { return mSnapshots; }
    std::vector<ThreadID> GetThreadIds() const;
    /// The thread's model, or null. Threads are never removed while the model lives.
    const CallGraphThread* FindThread(ThreadID thread) const;
    /// Adds a thread with a snapshot table read from a file (loading).
    void AddThread(ThreadID thread, SnapshotTable table);

    /// The samples that a whole-capture request would hold (those of every thread's last
    /// snapshot), counted from the records without building a graph. False, with the reasons in
    /// `errors`, when a record cannot be read.
    bool CountWholeCaptureSamples(uint64_t& samples, Serialization::ErrorList& errors) const;

    /// A stack cache for a query over `thread`: one that an earlier query returned, or a new one.
    std::shared_ptr<ResolvedStackCache> CheckOutStackCache(ThreadID thread) const;
    void ReturnStackCache(ThreadID thread, std::shared_ptr<ResolvedStackCache> cache) const;

private:
    struct ThreadToWrite {
        CallGraphThreadProcessingState* state; // not owned
        bool isFirst;                          ///< the thread's first snapshot, always Full
        int deltaIndex;
        std::vector<uint8_t> processorState; ///< the processor's serialized state at the tick
    };
    using ThreadsToWrite = std::vector<ThreadToWrite>;
    /// The first snapshot of a thread that ended early, serialized, waiting for the next tick.
    struct PendingSnapshot {
        CallGraphThread* thread; // not owned
        std::vector<uint8_t> record;
    };

    friend std::unique_ptr<CallGraphModel> LoadCallGraphModel(CallGraphModelContext, const RTTI::Registry&,
                                                              Serialization::ErrorList&);

    /// Writes "Model.dat": the thread table with every thread's snapshot table.
    bool WriteModelFile(Serialization::ErrorList& errors) const;
    /// Makes a loaded thread table consistent: keys and thread IDs agree, tables are sound.
    bool CheckLoadedThreads(Serialization::ErrorList& errors);
    bool SnapshotTick(double time, Serialization::ErrorList& errors);
    /// Waits for the writing job; false (with its errors copied) when it failed.
    bool WaitForWritingJob(Serialization::ErrorList& errors);
    void WriteBatch(const ThreadsToWrite& batch, double time);
    /// Fills the write buffer with a record: the processor state, then the graph.
    void SerializeRecord(std::span<const uint8_t> processorState, const CallGraph& graph);
    void SerializeRecord(std::span<const uint8_t> processorState, const CallGraphThreadGraph& graph);
    /// Compresses the write buffer, appends it to "Snapshots.dat" and to the thread's table
    /// (before the table's last snapshot with `beforeLast`).
    bool StoreRecord(CallGraphThread& thread, ESnapshotType type, double time,
                     Serialization::ErrorList& errors, bool beforeLast = false);
    /// Stores the pending snapshots at the tick `time`, ahead of their threads' final ones.
    bool StorePendingSnapshots(double time, Serialization::ErrorList& errors);
    CallGraphThreadProcessingState* FindState(ThreadID thread);

    CallGraphModelContext mContext;
    std::filesystem::path mDirectory;

    mutable std::mutex mThreadsMutex; ///< guards mThreads' structure (queries look threads up)
    std::map<ThreadID, std::unique_ptr<CallGraphThread>> mThreads;
    mutable std::map<ThreadID, std::vector<std::shared_ptr<ResolvedStackCache>>> mStackCaches;

    std::vector<std::unique_ptr<CallGraphThreadProcessingState>> mStates;
    /// Index into mStates by thread: a capture may have 100,000 threads, each looked up at
    /// every progress call.
    std::unordered_map<ThreadID, std::size_t> mStateIndex;
    std::vector<PendingSnapshot> mPendingSnapshots;
    int mLastInterval = -1;
    SnapshotFile mSnapshots;
    System::JobHandle mWritingJob;
    Serialization::ErrorList mWritingErrors; ///< written by the writing job only while it runs

    // The writer's buffers: used by the writing job, or by EndThread once the job is done.
    std::vector<uint8_t> mWriteBuffer;
    std::unique_ptr<EventChunkCompressor> mCompressor;
};

/// Loads the session's model: reads its "Model.dat" (objects of unknown classes are skipped),
/// takes the first Profiler::CallGraphModel in it and opens "Snapshots.dat" for reading. Null,
/// with the reasons in `errors`, when the model cannot be loaded.
std::unique_ptr<CallGraphModel> LoadCallGraphModel(CallGraphModelContext context,
                                                   const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors);

} // namespace Profiler
