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

/// A thread id as users read it: a thread the recording could not identify has a negative id of
/// its own ("?"). perf's -1 for "no task" reads the same.
inline std::string ThreadIdText(int32_t threadId)
{
    return threadId < 0 ? std::string("?") : std::to_string(threadId);
}

} // namespace Profiler
