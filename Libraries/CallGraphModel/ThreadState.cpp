#include "CallGraphModel/ThreadState.h"

namespace Profiler {

namespace {

constexpr const char* kNames[kThreadStateCount] = {
    "UnknownWaitState", "Executing",       "IO",   "MemoryManagement", "Sleep",
    "Preemption",       "Synchronization", "Idle",
};

constexpr const char* kDescriptions[kThreadStateCount] = {
    "Thread is in wait state. Thread started before profiling session started so the type of wait state is "
    "undetermined.",
    "Executing",
    "IO",
    "MemoryManagement",
    "Sleep",
    "Preemption",
    "Synchronization",
    "Idle",
};

constexpr uint32_t kWaitReasonCount = 38;

constexpr std::array<EThreadState, kWaitReasonCount> MakeWaitReasonTable()
{
    std::array<EThreadState, kWaitReasonCount> table{};
    table.fill(EThreadState::Idle);
    for (uint32_t reason : {0, 7, 23})
        table[reason] = EThreadState::IO;
    for (uint32_t reason : {1, 2, 3, 8, 9, 10, 18, 19, 25})
        table[reason] = EThreadState::MemoryManagement;
    for (uint32_t reason : {4, 5, 11, 12, 33})
        table[reason] = EThreadState::Sleep;
    for (uint32_t reason : {30, 31, 32})
        table[reason] = EThreadState::Preemption;
    for (uint32_t reason : {6, 14, 15, 16, 17, 20, 21, 24, 26, 27, 28, 29, 34, 35, 36, 37})
        table[reason] = EThreadState::Synchronization;
    return table;
}

constexpr std::array<EThreadState, kWaitReasonCount> kWaitReasonStates = MakeWaitReasonTable();

} // namespace

const char* GetThreadStateName(EThreadState state)
{
    const auto index = static_cast<uint8_t>(state);
    return index < kThreadStateCount ? kNames[index] : "";
}

const char* GetThreadStateDescription(EThreadState state)
{
    const auto index = static_cast<uint8_t>(state);
    return index < kThreadStateCount ? kDescriptions[index] : "";
}

EThreadState GetThreadStateForWaitReason(uint32_t waitReason)
{
    return waitReason < kWaitReasonCount ? kWaitReasonStates[waitReason] : EThreadState::Idle;
}

} // namespace Profiler
