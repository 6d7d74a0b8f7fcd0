#pragma once

#include "CaptureModel/Identifiers.h"
#include "CaptureModel/Session.h"

#include <atomic>
#include <cstdint>
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
/// a progress call before each of the thread's events, end thread after the last event.
class CaptureProcessingHandler final : public IReprocessHandler {
public:
    /// `canceled` is polled before every event; the input must outlive the handler.
    CaptureProcessingHandler(const IOpenBarInput& input, const std::atomic<bool>& canceled);
    ~CaptureProcessingHandler() override;

    bool BeginReprocessing(std::span<Model* const> models, Serialization::ErrorList& errors) override;
    bool HandleEvent(const TraceEvent& event, Serialization::ErrorList& errors) override;
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
        std::unique_ptr<OpenBarProcessor> processor;
        std::vector<ThreadProcessingState*> states; ///< one per model; owned by the models
    };

    ThreadEntry& GetThread(const TraceEvent& event);

    const IOpenBarInput& mInput;                        // not owned
    const std::atomic<bool>& mCanceled;                 // not owned
    std::vector<Model*> mModels;                        // not owned; those that want events
    std::vector<std::unique_ptr<ThreadEntry>> mThreads; ///< in order of first event
    std::unordered_map<uint32_t, ThreadEntry*> mThreadIndex;
    uint32_t mLastThread = ~0u;
    ThreadEntry* mLastEntry = nullptr; // not owned
    double mFraction = 0.0;
    uint64_t mEventCount = 0;
    uint64_t mSampleCount = 0;
    bool mStoppedByCancel = false;
};

} // namespace Profiler
