#pragma once

#include "CaptureModel/ResolvedAddress.h"
#include "RTTI/Reflection.h"
#include "ZivuDeverUdovIradir/TimeRange.h"

#include <cstdint>
#include <vector>

namespace Profiler {

/// What a session's call graph view had selected, kept in the session's "CallGraph.dat".
class CallGraphViewSelectionState : public RTTI::Object {
public:
    QX_RTTI_CLASS(CallGraphViewSelectionState);

    /// The frame of "no selected bar".
    static constexpr ResolvedAddress kNoBar{~uint64_t{0}, ~uint32_t{0}};

    TimeRange mSelectionTimeRange;   ///< the range selected on the host's timeline
    TimeRange mSelectedBarTimeRange; ///< range and depth of the selected bar
    TimeRange mCurrentTimeRange;     ///< the range of the last request
    std::vector<int32_t> mCurrentThreadSelection;
    ResolvedAddress mCurrentSelectedBarFrame = kNoBar; ///< the selected bar's function
};

} // namespace Profiler
