#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>

namespace Profiler {

/// One frame of a call stack resolved to its function.
struct ResolvedFrame {
    ResolvedAddress Function;
    uint64_t FrameAddress = ~uint64_t{0};  ///< the instruction address in this frame
    uint64_t CallerAddress = ~uint64_t{0}; ///< the instruction address in the caller; all ones outermost
};

} // namespace Profiler
