#pragma once

#include <cstdint>
#include <string>

namespace Profiler {

/// A process id as users read it: captures give a process they could not identify a negative id
/// of its own, which shows as "?".
inline std::string ProcessIdText(int32_t processId)
{
    return processId < 0 ? std::string("?") : std::to_string(processId);
}

} // namespace Profiler
