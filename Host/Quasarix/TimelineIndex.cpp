#include "TimelineIndex.h"

#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"

#include <algorithm>
#include <array>
#include <limits>
#include <unordered_map>

namespace Profiler {

bool TimelineIndex::Build(const Session& session, const std::atomic<bool>& cancel,
                          Serialization::ErrorList& errors)
{
    std::vector<ProcessGroup> groups;
    std::unordered_map<int32_t, Lane*> lanes;
    const auto& threads = session.GetThreadList();
    for (const Process& process : session.GetProcessList()) {
        ProcessGroup group{process.mID, QString::fromStdString(process.mName), {}};
        for (const Thread& thread : threads)
            if (thread.mProcessID == process.mID)
                group.Lanes.push_back({thread.mThreadID,
                                       QString::fromStdString(thread.mThreadName),
                                       {},
                                       {},
                                       std::numeric_limits<double>::max(),
                                       std::numeric_limits<double>::lowest()});
        if (!group.Lanes.empty())
            groups.push_back(std::move(group));
    }
    for (ProcessGroup& group : groups)
        for (Lane& lane : group.Lanes)
            lanes[lane.ThreadId] = &lane;

    double start = std::numeric_limits<double>::max();
    double end = std::numeric_limits<double>::lowest();
    if (const TraceEventStream* stream = session.GetTraceEventStream()) {
        TraceEventStreamReader reader(*stream);
        reader.SetAllThreads();
        reader.SetZonesEnabled(false);
        TraceEvent event;
        uint64_t count = 0;
        while (reader.Next(event)) {
            if ((++count & 0xffff) == 0 && cancel.load(std::memory_order_relaxed))
                return false;
            auto found = lanes.find(static_cast<int32_t>(static_cast<uint32_t>(event.threadId)));
            if (found == lanes.end())
                continue;
            Lane& lane = *found->second;
            lane.Start = std::min(lane.Start, event.time);
            lane.End = std::max(lane.End, event.time);
            start = std::min(start, event.time);
            end = std::max(end, event.time);
            EThreadState state;
            switch (event.kind) {
            case ETraceEventKind::Sample:
                lane.Samples.push_back(event.time);
                continue;
            case ETraceEventKind::ContextSwitchIn:
                state = EThreadState::Executing;
                break;
            case ETraceEventKind::ContextSwitchOut:
                state = GetThreadStateForWaitReason(event.GetWaitReason());
                break;
            default:
                continue;
            }
            if (lane.Runs.empty() || lane.Runs.back().State != state)
                lane.Runs.push_back({event.time, state});
        }
        if (reader.HasFailed()) {
            errors.Add(reader.GetErrors().GetErrors().front().code, reader.GetErrors().ToString());
            return false;
        }
    }
    if (start > end) {
        start = session.GetStartTimeMs();
        end = std::max(start, session.GetEndTimeMs());
    }
    // Events come in time order per thread, but keep the invariant the searches rely on.
    for (ProcessGroup& group : groups)
        for (Lane& lane : group.Lanes) {
            std::sort(lane.Samples.begin(), lane.Samples.end());
            std::stable_sort(lane.Runs.begin(), lane.Runs.end(),
                             [](const StateRun& a, const StateRun& b) { return a.Start < b.Start; });
        }
    Assign(std::move(groups), start, end);
    return true;
}

void TimelineIndex::Assign(std::vector<ProcessGroup> groups, double start, double end)
{
    mGroups = std::move(groups);
    mStart = start;
    mEnd = std::max(end, start + 1e-3);
}

size_t TimelineIndex::GetLaneCount() const
{
    size_t count = 0;
    for (const ProcessGroup& group : mGroups)
        count += group.Lanes.size();
    return count;
}

const TimelineIndex::Lane* TimelineIndex::FindLane(int32_t threadId) const
{
    for (const ProcessGroup& group : mGroups)
        for (const Lane& lane : group.Lanes)
            if (lane.ThreadId == threadId)
                return &lane;
    return nullptr;
}

TimelineIndex::Column TimelineIndex::Summarise(const Lane& lane, double from, double to)
{
    Column column;
    column.Alive = lane.End >= from && lane.Start < to;
    const auto firstSample = std::lower_bound(lane.Samples.begin(), lane.Samples.end(), from);
    const auto lastSample = std::lower_bound(firstSample, lane.Samples.end(), to);
    column.Samples = static_cast<uint32_t>(lastSample - firstSample);
    if (lane.Runs.empty())
        return column;
    // The run in force at `from`, then every run that starts inside the column: a handful at
    // most when zoomed in, and when zoomed out the column is wide but the walk stops at `to`
    // after a bounded number of runs (long columns take the first runs' majority).
    auto run = std::upper_bound(lane.Runs.begin(), lane.Runs.end(), from,
                                [](double time, const StateRun& r) { return time < r.Start; });
    if (run != lane.Runs.begin())
        --run;
    std::array<double, kThreadStateCount> covered{};
    constexpr int kMaxRunsPerColumn = 64;
    int visited = 0;
    for (; run != lane.Runs.end() && run->Start < to && visited < kMaxRunsPerColumn; ++run, ++visited) {
        const double runEnd = std::next(run) != lane.Runs.end() ? std::next(run)->Start : lane.End;
        const double overlap = std::min(runEnd, to) - std::max(run->Start, from);
        if (overlap > 0)
            covered[static_cast<size_t>(run->State)] += overlap;
    }
    const auto best = std::max_element(covered.begin(), covered.end());
    if (*best > 0)
        column.State = static_cast<int>(best - covered.begin());
    return column;
}

} // namespace Profiler
