#pragma once

#include "RTTI/Reflection.h"

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// The per-thread event processor of the layer that builds models (its open bar processor);
/// models only receive it back through the calls below.
class OpenBarProcessor;

/// The host's progress record of capture processing.
struct ProcessingProgress {
    double Fraction = 0.0;    ///< of the capture processed so far, 0 to 1
    double CaptureTime = 0.0; ///< the capture time (ms) that processing has reached
};

/// What a model keeps per thread while the host processes a capture.
class ThreadProcessingState {
public:
    virtual ~ThreadProcessingState() = default;
};

/// A capture model: state that a plugin builds from a capture's events while the host
/// processes it, and stores beside the capture in a directory of its own. The host drives every
/// model from its processing thread, in this order: BeginProcessing; per thread BeginThread,
/// Progress calls in capture time order, EndThread (or EndThreadEarly once the thread's last
/// event is behind); EndProcessing; then Save.
class Model : public RTTI::Object {
public:
    QX_RTTI_CLASS(Model);

    /// Starts keeping `processor`'s thread; the state is handed back with every Progress call.
    virtual ThreadProcessingState* BeginThread(OpenBarProcessor& processor) = 0;
    /// Finishes the thread of `processor` (after its last event).
    virtual bool EndThread(OpenBarProcessor& processor, Serialization::ErrorList& errors) = 0;
    /// Whether the thread of `state`, which has no events left, may be ended before the end of
    /// the capture without changing what the model stores. A capture of many short threads then
    /// keeps only the live ones in memory. False by default: such a model ends every thread at
    /// the end.
    virtual bool CanEndThreadEarly(const ThreadProcessingState&) const { return false; }
    /// Ends a thread with no events left before the end of the capture (once CanEndThreadEarly
    /// allowed it); the processor goes away afterwards. By default the same as EndThread.
    virtual bool EndThreadEarly(OpenBarProcessor& processor, Serialization::ErrorList& errors)
    {
        return EndThread(processor, errors);
    }
    /// Called before the thread of `state` is handed its events at progress.CaptureTime.
    virtual bool Progress(const ProcessingProgress& progress, ThreadProcessingState& state,
                          Serialization::ErrorList& errors) = 0;
    virtual bool BeginProcessing(Serialization::ErrorList& errors) = 0;
    /// Called after the last thread has ended; nothing by default.
    virtual void EndProcessing() {}
    /// Whether the model wants the capture's events; true by default.
    virtual bool WantsEvents() const { return true; }
    /// Deletes what the model stored beside the capture.
    virtual bool DeleteStoredData(Serialization::ErrorList& errors) = 0;
    virtual bool Save(Serialization::ErrorList& errors) = 0;
};

} // namespace Profiler
