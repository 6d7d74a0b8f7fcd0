#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/Session.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace Profiler {

class IOpenBarInput;
class Model;
class OpenBarProcessor;
class ThreadProcessingState;

/// The host's side of capture processing: one open bar processor per thread, created at the
/// thread's first event, and the models driven from them in the order they expect: begin thread,
/// a progress call before each of the thread's events, end thread after the last event. A
/// thread that the session finishes is ended then, as soon as every model allows it, and its
/// processor released: a capture of 100,000 short threads keeps only the live ones.
class CaptureProcessingHandler final : public IReprocessHandler {
public:
    /// `canceled` is polled before every event; the input must outlive the handler.
    CaptureProcessingHandler(const IOpenBarInput& input, const std::atomic<bool>& canceled);
    ~CaptureProcessingHandler() override;

    bool BeginReprocessing(std::span<Model* const> models, Serialization::ErrorList& errors) override;
    bool HandleEvent(const TraceEvent& event, Serialization::ErrorList& errors) override;
    bool FinishThread(ThreadID thread, Serialization::ErrorList& errors) override;
    bool EndReprocessing(Serialization::ErrorList& errors) override;

    /// The fraction of the capture handed out so far, passed on in the progress records.
    void SetFraction(double fraction) { mFraction = fraction; }
    uint64_t GetEventCount() const { return mEventCount; }
    uint64_t GetSampleCount() const { return mSampleCount; }
    std::size_t GetThreadCount() const { return mThreads.size(); }
    /// Whether processing stopped because it was canceled.
    bool WasCanceled() const { return mStoppedByCancel; }

private:
    struct ThreadEntry {
        std::unique_ptr<OpenBarProcessor> processor; ///< null once the thread has ended
        std::vector<ThreadProcessingState*> states;  ///< one per model; owned by the models
    };

    ThreadEntry& GetThread(const TraceEvent& event);
    bool CanEndEarly(const ThreadEntry& entry) const;
    bool EndEarly(ThreadEntry& entry, Serialization::ErrorList& errors);
    /// Ends the finished threads at the front of mFinished that the models let go.
    bool EndFinishedThreads(Serialization::ErrorList& errors);

    const IOpenBarInput& mInput;                        // not owned
    const std::atomic<bool>& mCanceled;                 // not owned
    std::vector<Model*> mModels;                        // not owned; those that want events
    std::vector<std::unique_ptr<ThreadEntry>> mThreads; ///< in order of first event
    std::unordered_map<uint32_t, ThreadEntry*> mThreadIndex;
    /// Finished threads that a model would not end yet, in the order they finished; a model
    /// refuses while the thread owes it something that a later event brings (a snapshot), so
    /// the ones in front are let go first.
    std::deque<ThreadEntry*> mFinished;
    uint32_t mLastThread = ~0u;
    ThreadEntry* mLastEntry = nullptr; // not owned
    double mFraction = 0.0;
    uint64_t mEventCount = 0;
    uint64_t mSampleCount = 0;
    bool mStoppedByCancel = false;
};

} // namespace Profiler
