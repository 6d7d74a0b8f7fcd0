#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CallGraphModel/ThreadState.h"
#include "CaptureModel/ResolvedAddress.h"

#include <cstdint>
#include <vector>

namespace Profiler {

/// One frame of a thread's current stack while it stays on the stack: the time it accumulated
/// per thread state since it opened, and the samples whose innermost frame it was.
struct OpenBar {
    static constexpr uint64_t kNoAddress = ~uint64_t{0};
    /// The instrumentation context of sampled frames.
    static constexpr uint64_t kNoContext = ~uint64_t{0};

    StateTimeArray StateTimes{};
    double StartTime = 0.0;
    double EndTime = 0.0; ///< up to when time has been charged
    uint64_t CallerAddress = kNoAddress;
    uint64_t FrameAddress = kNoAddress;
    ResolvedAddress Function;
    uint64_t InstrumentationContext = kNoContext;
    uint8_t CurrentState = static_cast<uint8_t>(EThreadState::Executing); ///< where time goes now
    /// Ascending by address, no duplicates. A bar slot keeps its storage when it is reused.
    std::vector<AddressSample> Samples;

    bool IsZone() const { return Function.IsInstrumentationZone(); }

    /// Makes this slot a fresh bar spanning [start, end], that span charged to `state`.
    void Open(const ResolvedAddress& function, uint64_t callerAddress, uint64_t frameAddress, double start,
              double end, uint8_t state)
    {
        StateTimes.fill(0.0);
        StateTimes[state] = end - start;
        StartTime = start;
        EndTime = end;
        CallerAddress = callerAddress;
        FrameAddress = frameAddress;
        Function = function;
        InstrumentationContext = kNoContext;
        CurrentState = state;
        Samples.clear();
    }

    void AddTimes(const StateTimeArray& times)
    {
        for (int i = 0; i < kThreadStateCount; ++i)
            StateTimes[i] += times[i];
    }

    /// Counts one more sample at `address`.
    void AddSample(uint64_t address);

    /// Takes back the time charged beyond `time` from the current state. A bar never ends
    /// before it began.
    void ClampTo(double time)
    {
        if (EndTime > time) {
            const double end = time > StartTime ? time : StartTime;
            StateTimes[CurrentState] -= EndTime - end;
            EndTime = end;
        }
    }
};

} // namespace Profiler
