#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <unordered_set>

// The columns and time display modes that the call graph and function list panels share and
// that the call graph settings remember.

namespace Profiler {

/// The columns of the call graph tree and the function list.
enum class ECallGraphHeaders : uint8_t {
    FunctionName = 0,
    ModuleName = 1,
    InclusiveTime = 2,
    ExclusiveTime = 3,
    SampleCount = 4,
    ThreadStates = 5,
};
QX_RTTI_ENUM(ECallGraphHeaders, "Profiler::ECallGraphHeaders", FunctionName, ModuleName, InclusiveTime,
             ExclusiveTime, SampleCount, ThreadStates);

/// How the call graph tree shows times.
enum class ECallGraphTimeDisplayMode : uint8_t {
    Milliseconds = 0,
    Seconds = 1,
    RelativePercentage = 2,
    AbsolutePercentage = 3,
};
QX_RTTI_ENUM(ECallGraphTimeDisplayMode, "Profiler::ECallGraphTimeDisplayMode", Milliseconds, Seconds,
             RelativePercentage, AbsolutePercentage);

/// How the function list shows times.
enum class EFunctionListTimeDisplayMode : uint8_t {
    Milliseconds = 0,
    Seconds = 1,
    AbsolutePercentage = 2,
};
QX_RTTI_ENUM(EFunctionListTimeDisplayMode, "Profiler::EFunctionListTimeDisplayMode", Milliseconds, Seconds,
             AbsolutePercentage);

using CallGraphHeaderSet = std::unordered_set<ECallGraphHeaders>;

} // namespace Profiler
