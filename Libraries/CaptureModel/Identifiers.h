#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>

namespace Profiler {

/// Operating-system thread and process identifiers: distinct types so that one is never
/// passed for the other, stored as their 32-bit value.
QX_RTTI_IDENTIFIER(ThreadID, uint32_t, "Profiler::ThreadID");
QX_RTTI_IDENTIFIER(ProcessID, uint32_t, "Profiler::ProcessID");

} // namespace Profiler
