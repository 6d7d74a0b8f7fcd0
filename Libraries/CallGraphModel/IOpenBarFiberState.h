#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Profiler {

/// One open bar as saved when an instrumentation context leaves its thread.
struct SavedFiberBar {
    uint64_t InstrumentationContextID = 0;
    uint64_t LastAbsoluteAddress = 0; ///< the bar's frame address
    uint64_t ReturnAddress = 0;       ///< the bar's caller address
    ResolvedAddress Frame;            ///< the bar's function

    friend bool operator==(const SavedFiberBar& a, const SavedFiberBar& b)
    {
        return a.InstrumentationContextID == b.InstrumentationContextID &&
               a.LastAbsoluteAddress == b.LastAbsoluteAddress && a.ReturnAddress == b.ReturnAddress &&
               a.Frame.RelativeAddress == b.Frame.RelativeAddress &&
               a.Frame.ResolveIndex == b.Frame.ResolveIndex;
    }
};

/// The fiber states that instrumentation contexts leave behind, shared by every thread of a
/// capture: saved while the capture is processed, read when it is replayed. Implementations
/// are safe to use from several threads.
class IOpenBarFiberState {
public:
    virtual ~IOpenBarFiberState() = default;

    /// Stores `bars` (outermost first; identical saved states are kept once) and records a fiber
    /// event of context `contextId` at `time` that refers to them.
    virtual void SaveFiberState(uint64_t contextId, double time, std::span<const SavedFiberBar> bars) = 0;
    /// The bars of the context's most recent fiber event strictly before `time` (the last one
    /// recorded among events at the same time); false when there is none. Events at `time`
    /// itself are left out: whether one of them was saved before the restoring event depends on
    /// the order of equal times, which a replay from the middle of a capture cannot know, and
    /// capture processing and replays must restore the same bars.
    virtual bool FindFiberState(uint64_t contextId, double time, std::vector<SavedFiberBar>& bars) const = 0;
};

} // namespace Profiler
