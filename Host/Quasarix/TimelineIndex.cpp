#include "TimelineIndex.h"

#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"

#include <algorithm>
#include <array>
#include <cmath>
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
            if (thread.mProcessID == process.mID) {
                Lane lane;
                lane.ThreadId = thread.mThreadID;
                lane.Name = QString::fromStdString(thread.mThreadName);
                lane.Start = std::numeric_limits<double>::max();
                lane.End = std::numeric_limits<double>::lowest();
                group.Lanes.push_back(std::move(lane));
            }
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
    for (ProcessGroup& group : mGroups)
        for (Lane& lane : group.Lanes)
            if (lane.Runs.size() > kBucketCount / 8 || lane.Samples.size() > kBucketCount / 8)
                BuildCoverage(lane, mStart, mEnd);
}

void TimelineIndex::BuildCoverage(Lane& lane, double start, double end)
{
    lane.BucketOrigin = start;
    lane.BucketWidth = (end - start) / kBucketCount;
    lane.Coverage.assign(1, std::vector<std::array<float, kThreadStateCount>>(kBucketCount));
    auto& finest = lane.Coverage[0];
    for (size_t i = 0; i < lane.Runs.size(); ++i) {
        const double runStart = std::max(lane.Runs[i].Start, start);
        const double runEnd = std::min(i + 1 < lane.Runs.size() ? lane.Runs[i + 1].Start : lane.End, end);
        const auto state = static_cast<size_t>(lane.Runs[i].State);
        for (double at = runStart; at < runEnd;) {
            const auto bucket =
                std::min(kBucketCount - 1, static_cast<size_t>((at - start) / lane.BucketWidth));
            const double bucketEnd = start + (bucket + 1) * lane.BucketWidth;
            const double until = std::min(runEnd, bucketEnd);
            finest[bucket][state] += static_cast<float>(until - at);
            // A bucket end that rounding puts at or before `at` would never advance.
            at = until > at ? until : runEnd;
        }
    }
    lane.SamplePrefix.assign(kBucketCount + 1, 0);
    size_t next = 0;
    for (size_t b = 0; b <= kBucketCount; ++b) {
        const double bucketStart = start + static_cast<double>(b) * lane.BucketWidth;
        while (next < lane.Samples.size() && (b == kBucketCount ? false : lane.Samples[next] < bucketStart))
            ++next;
        lane.SamplePrefix[b] = static_cast<uint32_t>(b == kBucketCount ? lane.Samples.size() : next);
    }
    while (lane.Coverage.back().size() > 1) {
        const auto& below = lane.Coverage.back();
        std::vector<std::array<float, kThreadStateCount>> level(below.size() / 2);
        for (size_t b = 0; b < level.size(); ++b)
            for (size_t s = 0; s < kThreadStateCount; ++s)
                level[b][s] = below[2 * b][s] + below[2 * b + 1][s];
        lane.Coverage.push_back(std::move(level));
    }
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

size_t TimelineIndex::SampleIndex(const Lane& lane, double time)
{
    const double position = std::floor((time - lane.BucketOrigin) / lane.BucketWidth);
    if (position < 0)
        return static_cast<size_t>(
            std::lower_bound(lane.Samples.begin(), lane.Samples.begin() + lane.SamplePrefix[0], time) -
            lane.Samples.begin());
    const auto bucket = std::min(kBucketCount - 1, static_cast<size_t>(position));
    const auto begin = lane.Samples.begin() + lane.SamplePrefix[bucket];
    const auto end = bucket + 1 == kBucketCount ? lane.Samples.end()
                                                : lane.Samples.begin() + lane.SamplePrefix[bucket + 1];
    return static_cast<size_t>(std::lower_bound(begin, end, time) - lane.Samples.begin());
}

TimelineIndex::Column TimelineIndex::Summarise(const Lane& lane, double from, double to)
{
    Column column;
    column.Alive = lane.End >= from && lane.Start < to;
    if (!lane.Coverage.empty() && to - from >= 2 * lane.BucketWidth) {
        // The level with two to four whole buckets inside the column; the partial ones at its
        // edges are left out, which changes little at that many buckets per pixel.
        const auto level = std::min(lane.Coverage.size() - 1,
                                    static_cast<size_t>(std::log2((to - from) / (2 * lane.BucketWidth))));
        const auto& buckets = lane.Coverage[level];
        const double width = lane.BucketWidth * static_cast<double>(size_t{1} << level);
        const double first = std::ceil((from - lane.BucketOrigin) / width);
        const double last = std::floor((to - lane.BucketOrigin) / width);
        std::array<float, kThreadStateCount> sum{};
        for (double b = std::max(0.0, first); b < std::min(last, static_cast<double>(buckets.size())); ++b) {
            for (size_t s = 0; s < kThreadStateCount; ++s)
                sum[s] += buckets[static_cast<size_t>(b)][s];
        }
        const auto best = std::max_element(sum.begin(), sum.end());
        if (*best > 0)
            column.State = static_cast<int>(best - sum.begin());
        column.Samples = static_cast<uint32_t>(SampleIndex(lane, to) - SampleIndex(lane, from));
        return column;
    }
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
