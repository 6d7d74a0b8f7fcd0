#pragma once

#include <cstdint>

namespace Profiler {

/// Operating-system thread and process identifiers: distinct types so that one is never
/// passed for the other, stored as their 32-bit value.
enum class ThreadID : uint32_t {};
enum class ProcessID : uint32_t {};

} // namespace Profiler
