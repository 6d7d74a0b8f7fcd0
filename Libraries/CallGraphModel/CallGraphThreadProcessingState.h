#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CaptureModel/Model.h"

#include <memory>

namespace Profiler {

class CallGraphThread;
class OpenBarProcessor;

/// One thread of the call graph model while the capture is processed. Its router fills the
/// cumulative graph until the thread's first snapshot, then the two delta graphs in turn: one
/// is filled on the processing thread while the writing job merges and writes the other.
class CallGraphThreadProcessingState final : public ThreadProcessingState {
public:
    CallGraphThreadProcessingState(CallGraphThread& thread, OpenBarProcessor& processor)
        : mThread(&thread), mProcessor(&processor),
          mRouter(std::make_unique<CallGraphOpenBarProcessorRouter>(processor, *mCumulative))
    {}

    CallGraphThread* mThread;                                               // not owned
    std::unique_ptr<CallGraph> mCumulative = std::make_unique<CallGraph>(); ///< up to the last snapshot
    OpenBarProcessor* mProcessor;                                           // not owned (the host's)
    std::unique_ptr<CallGraphOpenBarProcessorRouter> mRouter;
    /// Made at the thread's first snapshot: a capture of 100,000 short threads mostly has none.
    std::unique_ptr<CallGraph> mDeltas[2];
    int mCurrentDelta = 0;  ///< the delta graph the router fills (once the first snapshot is taken)
    int mSnapshotCount = 0; ///< snapshots taken for this thread so far
    bool mDirty = false;    ///< processed since its last snapshot
    // Read and written by the writing job only (or by EndThread once it is done).
    uint64_t mLastFullBytes = 0;       ///< record bytes of the thread's last Full snapshot
    uint64_t mDeltaBytesSinceFull = 0; ///< record bytes of the Deltas written after it
};

} // namespace Profiler
