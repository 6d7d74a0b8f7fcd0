#include "CallGraphModel/Document/CaptureProcessingHandler.h"

#include "CallGraphModel/OpenBarProcessor.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/TraceEvent.h"
#include "Utility/ErrorList.h"

#include <limits>

namespace Profiler {

CaptureProcessingHandler::CaptureProcessingHandler(const IOpenBarInput& input,
                                                   const std::atomic<bool>& canceled)
    : mInput(input), mCanceled(canceled)
{}

CaptureProcessingHandler::~CaptureProcessingHandler() = default;

bool CaptureProcessingHandler::BeginReprocessing(std::span<Model* const> models, Serialization::ErrorList&)
{
    mModels.clear();
    for (Model* model : models)
        if (model->WantsEvents())
            mModels.push_back(model);
    return true;
}

CaptureProcessingHandler::ThreadEntry& CaptureProcessingHandler::GetThread(const TraceEvent& event)
{
    const auto thread = static_cast<uint32_t>(event.threadId);
    if (thread == mLastThread)
        return *mLastEntry;
    auto found = mThreadIndex.find(thread);
    if (found == mThreadIndex.end()) {
        auto entry = std::make_unique<ThreadEntry>();
        // The broken-stack cursor starts where the thread's events do.
        entry->processor = std::make_unique<OpenBarProcessor>(
            mInput, event.threadId, false, OpenBarProcessor::kProcessingReportingInterval, event.time);
        for (Model* model : mModels)
            entry->states.push_back(model->BeginThread(*entry->processor));
        found = mThreadIndex.emplace(thread, entry.get()).first;
        mThreads.push_back(std::move(entry));
    }
    mLastThread = thread;
    mLastEntry = found->second;
    return *mLastEntry;
}

bool CaptureProcessingHandler::HandleEvent(const TraceEvent& event, Serialization::ErrorList& errors)
{
    // A cancel is no failure of the capture: the caller tells it apart through WasCanceled.
    if (mCanceled.load(std::memory_order_relaxed)) {
        mStoppedByCancel = true;
        return false;
    }
    ThreadEntry& thread = GetThread(event);
    if (thread.processor == nullptr) {
        errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                            "Thread %u has events after the last chunk that the event index lists it in",
                            static_cast<uint32_t>(event.threadId));
        return false;
    }
    // Each model sees the time before the thread's events at that time, so that a snapshot
    // taken there holds exactly the events before it.
    const ProcessingProgress progress{mFraction, event.time};
    for (std::size_t i = 0; i < mModels.size(); ++i)
        if (thread.states[i] != nullptr && !mModels[i]->Progress(progress, *thread.states[i], errors))
            return false;
    thread.processor->HandleEvent(event, std::numeric_limits<double>::max());
    ++mEventCount;
    if (event.kind == ETraceEventKind::Sample)
        ++mSampleCount;
    return mFinished.empty() || EndFinishedThreads(errors);
}

bool CaptureProcessingHandler::FinishThread(ThreadID thread, Serialization::ErrorList& errors)
{
    auto found = mThreadIndex.find(static_cast<uint32_t>(thread));
    // A thread whose events were all passed over (unknown kinds) never got a processor.
    if (found == mThreadIndex.end())
        return true;
    ThreadEntry& entry = *found->second;
    if (CanEndEarly(entry))
        return EndEarly(entry, errors);
    mFinished.push_back(&entry);
    return true;
}

bool CaptureProcessingHandler::CanEndEarly(const ThreadEntry& entry) const
{
    for (std::size_t i = 0; i < mModels.size(); ++i)
        if (entry.states[i] != nullptr && !mModels[i]->CanEndThreadEarly(*entry.states[i]))
            return false;
    return true;
}

bool CaptureProcessingHandler::EndEarly(ThreadEntry& entry, Serialization::ErrorList& errors)
{
    for (Model* model : mModels)
        if (!model->EndThreadEarly(*entry.processor, errors))
            return false;
    entry.processor.reset();
    entry.states = {};
    if (mLastEntry == &entry) {
        mLastEntry = nullptr;
        mLastThread = ~0u;
    }
    return true;
}

bool CaptureProcessingHandler::EndFinishedThreads(Serialization::ErrorList& errors)
{
    while (!mFinished.empty() && CanEndEarly(*mFinished.front())) {
        if (!EndEarly(*mFinished.front(), errors))
            return false;
        mFinished.pop_front();
    }
    return true;
}

bool CaptureProcessingHandler::EndReprocessing(Serialization::ErrorList& errors)
{
    mFinished.clear();
    for (const auto& thread : mThreads) {
        if (thread->processor == nullptr)
            continue; // ended early
        for (Model* model : mModels)
            if (!model->EndThread(*thread->processor, errors))
                return false;
    }
    return true;
}

} // namespace Profiler
