#pragma once

#include "CallGraphModel/IBrokenStackCursor.h"
#include "CaptureModel/BrokenStackReader.h"

namespace Profiler {

/// A thread's unrooted-stack ranges as a loaded capture stores them ("stacks.dat"). The
/// position words are the chunk and record indices of the capture's own cursor.
class SessionBrokenStackCursor final : public IBrokenStackCursor {
public:
    /// The reader must outlive the cursor.
    SessionBrokenStackCursor(const BrokenStackReader& reader, ThreadID thread);

    bool Find(double time, uint64_t& closingStackId) override;
    BrokenStackPosition GetPosition() const override;
    void SetPosition(const BrokenStackPosition& position) override;

    /// Whether a chunk could not be read (its time then counted as rooted).
    bool HasFailed() const { return mCursor.HasFailed(); }

private:
    BrokenStackCursor mCursor;
};

} // namespace Profiler
