#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/CallGraphThreadGraph.h"
#include "CaptureModel/Model.h"

#include <memory>

namespace Profiler {

class CallGraphThread;
class OpenBarProcessor;

/// One thread of the call graph model while the capture is processed. Its router fills the two
/// delta graphs in turn: one is filled on the processing thread while the writing job merges
/// the other into the cumulative graph and writes it. Until the thread's first snapshot the
/// first delta graph holds everything of the thread.
class CallGraphThreadProcessingState final : public ThreadProcessingState {
public:
    CallGraphThreadProcessingState(CallGraphThread& thread, OpenBarProcessor& processor)
        : mThread(&thread), mProcessor(&processor),
          mRouter(std::make_unique<CallGraphOpenBarProcessorRouter>(processor, *mDeltas[0]))
    {}

    /// The cumulative graph, made on first use.
    CallGraphThreadGraph& GetCumulative()
    {
        if (mCumulative == nullptr)
            mCumulative = std::make_unique<CallGraphThreadGraph>();
        return *mCumulative;
    }

    CallGraphThread* mThread; // not owned
    /// Everything of the thread up to its last snapshot; null until the first one, so that a
    /// capture of 100,000 short threads, which mostly have none, does not make one per thread.
    std::unique_ptr<CallGraphThreadGraph> mCumulative;
    /// The second is made at the thread's first snapshot.
    std::unique_ptr<CallGraph> mDeltas[2] = {std::make_unique<CallGraph>(), nullptr};
    OpenBarProcessor* mProcessor; // not owned (the host's)
    std::unique_ptr<CallGraphOpenBarProcessorRouter> mRouter;
    int mCurrentDelta = 0;  ///< the delta graph the router fills
    int mSnapshotCount = 0; ///< snapshots taken for this thread so far
    bool mDirty = false;    ///< processed since its last snapshot
    // Read and written by the writing job only (or by EndThread once it is done).
    uint64_t mLastFullBytes = 0;       ///< record bytes of the thread's last Full snapshot
    uint64_t mDeltaBytesSinceFull = 0; ///< record bytes of the Deltas written after it
};

} // namespace Profiler
