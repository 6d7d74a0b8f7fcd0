#pragma once

#include "CallGraphModel/ThreadState.h"
#include "Utility/ErrorList.h"

#include <QString>

#include <array>
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
        /// Time per state in equal buckets from BucketOrigin, for lanes with many runs, at
        /// every power-of-two width (level 0 the finest): a zoomed out column adds up a few
        /// buckets of the right level instead of walking thousands of runs.
        std::vector<std::vector<std::array<float, kThreadStateCount>>> Coverage;
        /// The index of the first sample of each finest bucket (one more entry for the end), so
        /// that counting a column's samples searches only inside its two edge buckets.
        std::vector<uint32_t> SamplePrefix;
        double BucketOrigin = 0.0;
        double BucketWidth = 0.0;
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

    /// Buckets per lane with many runs.
    static constexpr size_t kBucketCount = 1 << 17;

private:
    static void BuildCoverage(Lane& lane, double start, double end);
    /// The number of the lane's samples before `time`, through its bucket prefix.
    static size_t SampleIndex(const Lane& lane, double time);

    std::vector<ProcessGroup> mGroups;
    double mStart = 0.0;
    double mEnd = 0.0;
};

} // namespace Profiler
