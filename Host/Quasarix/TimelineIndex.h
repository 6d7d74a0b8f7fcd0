#pragma once

#include "CallGraphModel/ThreadState.h"
#include "Utility/ErrorList.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

namespace Profiler {

class Session;

/// What the timeline draws of one capture, indexed so that a frame costs one binary search per
/// pixel column and lane however long the capture is: per thread its state runs (from context
/// switches) and its sorted sample times.
class TimelineIndex {
public:
    struct StateRun {
        double Start = 0.0;
        EThreadState State = EThreadState::Idle;
    };
    struct Lane {
        int32_t ThreadId = 0;
        QString Name;
        std::vector<StateRun> Runs;  ///< ascending by Start; each lasts until the next
        std::vector<double> Samples; ///< ascending
        double Start = 0.0;          ///< when the thread was first seen
        double End = 0.0;            ///< when it was last seen
    };
    struct ProcessGroup {
        int32_t ProcessId = 0;
        QString Name;
        std::vector<Lane> Lanes;
    };
    /// The summary of one pixel column of a lane.
    struct Column {
        int State = -1;       ///< the state covering most of the column; -1: none known
        uint32_t Samples = 0; ///< samples inside the column
        bool Alive = false;   ///< the thread existed during the column
    };

    /// Reads the session's events; `cancel` stops it early (false is returned then).
    [[nodiscard]] bool Build(const Session& session, const std::atomic<bool>& cancel,
                             Serialization::ErrorList& errors);
    /// Builds from prepared groups (tests and benchmarks).
    void Assign(std::vector<ProcessGroup> groups, double start, double end);

    const std::vector<ProcessGroup>& GetGroups() const { return mGroups; }
    double GetStart() const { return mStart; }
    double GetEnd() const { return mEnd; }
    size_t GetLaneCount() const;
    const Lane* FindLane(int32_t threadId) const;

    /// The summary of `lane` over [from, to).
    static Column Summarise(const Lane& lane, double from, double to);

private:
    std::vector<ProcessGroup> mGroups;
    double mStart = 0.0;
    double mEnd = 0.0;
};

} // namespace Profiler
