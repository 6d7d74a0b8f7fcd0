#pragma once

#include <cstdint>

namespace Profiler {

/// Operating-system thread and process identifiers.
using ThreadID = uint32_t;
using ProcessID = uint32_t;

} // namespace Profiler
