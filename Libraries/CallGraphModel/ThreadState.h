#pragma once

#include <array>
#include <cstdint>

namespace Profiler {

/// The states by which every time figure of a call graph is split.
enum class EThreadState : uint8_t {
    UnknownWaitState = 0,
    Executing = 1,
    IO = 2,
    MemoryManagement = 3,
    Sleep = 4,
    Preemption = 5,
    Synchronization = 6,
    Idle = 7,
};

inline constexpr int kThreadStateCount = 8;

/// Processor states beyond EThreadState: the state of a thread not yet seen running or waiting,
/// and of a thread that has ended.
inline constexpr uint8_t kThreadStateUndetermined = 9;
inline constexpr uint8_t kThreadStateEnded = 10;

/// Time per EThreadState, indexed by the state's value.
using StateTimeArray = std::array<double, kThreadStateCount>;

const char* GetThreadStateName(EThreadState state);
const char* GetThreadStateDescription(EThreadState state);

/// The state of a thread switched out for the kernel's wait reason `waitReason`.
EThreadState GetThreadStateForWaitReason(uint32_t waitReason);

/// Sum of the eight entries, added in index order from 0.0 so that every caller gets the same
/// rounding.
inline double SumStateTimes(const StateTimeArray& times)
{
    double sum = 0.0;
    for (double time : times)
        sum += time;
    return sum;
}

} // namespace Profiler
