#include "CallGraphModel/CallGraphQuery.h"

#include "CallGraphModel/CallGraphDifference.h"
#include "CallGraphModel/CallGraphMultiOpenBarProcessor.h"
#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/ITraceEventSource.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/SnapshotLoader.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <unordered_set>

// A range [t0, t1] is answered per thread along one of two paths that give the same graph:
//
// Difference: G(t1) - G(t0), where G(t) is the thread's cumulative graph at t: what its snapshots
// hold plus a replay of the events since the latest one, finished at t. The replay for t0 is
// gathered in a graph of its own before it is added to the snapshot part, just as capture
// processing gathered the bars after a snapshot in a delta graph. Then a node that nothing
// touched within the range gets bit for bit the same figures at both ends (the same closed bars
// are summed in the same groups), and the difference leaves it out instead of showing a rounding
// residue. When the snapshots for t1 extend those for t0 (same Full snapshot, more Deltas), the
// part both ends share cancels without being read: G(t0) needs only the processor state of its
// last snapshot, and G(t1) only the extra Deltas.
//
// Replay: the processor state of the last snapshot at or before t0, replayed forward to t0 into a
// small graph R(t0), then on to t1 giving R(t1); the answer is R(t1) - R(t0). No graph record is
// read, but every event from that snapshot to t1 is replayed.
//
// The planner takes, per thread, the path that reads less: the Difference path reads the graph
// records, the Replay path replays the events between t0 and the snapshot that the Difference
// path would start its second replay from. Threads of the two paths are built apart and merged at
// the root, which is what merging threads means anyway.

namespace Profiler {

namespace {

constexpr std::size_t kReplayFirstBlockBytes = 64 * 1024;
constexpr double kNoSnapshot = std::numeric_limits<double>::lowest();
/// What replaying one event costs, in compressed snapshot bytes read and added into a graph. Set
/// from 200 ranges of 1 to 60 s on a capture whose call paths keep growing, where a replayed sample
/// often has a stack never resolved before: 64 beat both 24 and either path alone.
constexpr double kReplayEventCostBytes = 64.0;

using SnapshotDescription = SnapshotTable::SnapshotDescription;

struct ThreadPlan {
    ThreadID id{};
    const CallGraphThread* thread = nullptr;
    std::vector<SnapshotDescription> atStart; ///< the snapshots that rebuild G(t0)
    std::vector<SnapshotDescription> atEnd;   ///< those that rebuild G(t1)
    uint32_t firstAtStart = 0;
    uint32_t firstAtEnd = 0;
    std::shared_ptr<ResolvedStackCache> stacks;

    /// Whether G(t1) of this thread is G(t0)'s snapshots plus whole records.
    bool ExtendsStart() const
    {
        if (atStart.empty())
            return atEnd.empty() || firstAtEnd == 0;
        return firstAtStart == firstAtEnd;
    }
};

/// The latest snapshot time over the threads (kNoSnapshot when none has one): replays start
/// there. No thread has events between its own latest snapshot and this time, or it would have
/// been snapshotted then too.
double GetReplayStart(const std::vector<ThreadPlan>& plans, bool atEnd)
{
    double start = kNoSnapshot;
    for (const ThreadPlan& plan : plans) {
        const auto& snapshots = atEnd ? plan.atEnd : plan.atStart;
        if (!snapshots.empty())
            start = std::max(start, snapshots.back().mTime);
    }
    return start;
}

class RangeBuilder {
public:
    RangeBuilder(const CallGraphModel& model, std::vector<ThreadPlan>& plans,
                 Serialization::ErrorList& errors, const std::atomic<bool>& canceled)
        : mModel(model), mInput(*model.GetContext().Input), mPlans(plans), mErrors(errors),
          mCanceled(canceled)
    {}

    /// The threads' graph over [start, end] along `path` (Difference or Replay); the plans' snapshots
    /// must have been found.
    std::unique_ptr<CallGraph> Build(double start, double end, ERangePath path);

private:
    /// The Replay path; also the Difference path when no snapshot lies between the ends.
    std::unique_ptr<CallGraph> BuildFromSharedSnapshots(double start, double end, double replayStart);
    std::unique_ptr<CallGraph> BuildFromEachEnd(double start, double end, double startReplay,
                                                double endReplay);
    std::unique_ptr<OpenBarProcessor> MakeProcessor(const ThreadPlan& plan, double time) const;
    std::unique_ptr<CallGraphMultiOpenBarProcessor> MakeMulti(CallGraph& target) const;
    bool Load(const std::vector<SnapshotLoadTask>& tasks);
    bool Run(CallGraphMultiOpenBarProcessor& multi, double replayStart, double time, bool finish);
    std::unique_ptr<CallGraph> Difference(const CallGraph& atStart, const CallGraph& atEnd);
    bool IsCanceled() const { return mCanceled.load(std::memory_order_relaxed); }

    const CallGraphModel& mModel;
    const IOpenBarInput& mInput;
    std::vector<ThreadPlan>& mPlans;
    Serialization::ErrorList& mErrors;
    const std::atomic<bool>& mCanceled;
};

std::unique_ptr<CallGraph> RangeBuilder::Build(double start, double end, ERangePath path)
{
    const double startReplay = GetReplayStart(mPlans, false);
    const double endReplay = GetReplayStart(mPlans, true);
    // With no snapshot between the ends both paths do the same work.
    if (path == ERangePath::Replay || startReplay == endReplay)
        return BuildFromSharedSnapshots(start, end, startReplay);
    return BuildFromEachEnd(start, end, startReplay, endReplay);
}

std::unique_ptr<OpenBarProcessor> RangeBuilder::MakeProcessor(const ThreadPlan& plan, double time) const
{
    return std::make_unique<OpenBarProcessor>(mInput, plan.id, true, OpenBarProcessor::kNoReportingInterval,
                                              time, plan.stacks);
}

std::unique_ptr<CallGraphMultiOpenBarProcessor> RangeBuilder::MakeMulti(CallGraph& target) const
{
    return std::make_unique<CallGraphMultiOpenBarProcessor>(mInput.CreateEventSource(), target);
}

bool RangeBuilder::Load(const std::vector<SnapshotLoadTask>& tasks)
{
    return LoadSnapshots(mModel.GetSnapshotFile(), mModel.GetContext().Scheduler, tasks, mCanceled, mErrors);
}

bool RangeBuilder::Run(CallGraphMultiOpenBarProcessor& multi, double replayStart, double time, bool finish)
{
    if (!multi.Seek(replayStart) || !multi.Replay(time, mCanceled) ||
        (finish && !multi.Finish(time, mCanceled))) {
        if (!IsCanceled())
            multi.GetSource().GetErrors(mErrors);
        return false;
    }
    return true;
}

std::unique_ptr<CallGraph> RangeBuilder::Difference(const CallGraph& atStart, const CallGraph& atEnd)
{
    auto result = std::make_unique<CallGraph>();
    if (!BuildDifference(&atStart.GetRoot(), atEnd.GetRoot(), result->GetRoot(), mCanceled))
        return nullptr;
    return result;
}

std::unique_ptr<CallGraph> RangeBuilder::BuildFromSharedSnapshots(double start, double end,
                                                                  double replayStart)
{
    CallGraph startReplay(kReplayFirstBlockBytes);
    auto startMulti = MakeMulti(startReplay);
    std::vector<SnapshotLoadTask> tasks;
    for (const ThreadPlan& plan : mPlans) {
        auto processor = MakeProcessor(plan, replayStart);
        if (!plan.atStart.empty())
            tasks.push_back({plan.atStart.back(), {processor.get(), nullptr}, {nullptr, nullptr}});
        startMulti->AddProcessor(std::move(processor));
    }
    if (!Load(tasks) || IsCanceled())
        return nullptr;
    if (!Run(*startMulti, replayStart, start, false) || IsCanceled())
        return nullptr;

    std::unique_ptr<CallGraph> endReplay = startReplay.Clone();
    CallGraphMultiOpenBarProcessor endMulti(startMulti->GetSource().Clone(), *endReplay);
    for (const auto& processor : startMulti->GetProcessors())
        endMulti.AddProcessor(processor->Copy(true, OpenBarProcessor::kNoReportingInterval));
    if (!endMulti.Replay(end, mCanceled) || !startMulti->Finish(start, mCanceled) ||
        !endMulti.Finish(end, mCanceled)) {
        if (!IsCanceled())
            endMulti.GetSource().GetErrors(mErrors);
        return nullptr;
    }
    return Difference(startReplay, *endReplay);
}

std::unique_ptr<CallGraph> RangeBuilder::BuildFromEachEnd(double start, double end, double startReplay,
                                                          double endReplay)
{
    CallGraph atStart(CallGraph::kQueryFirstBlockBytes);
    CallGraph startReplayGraph(kReplayFirstBlockBytes);
    CallGraph atEnd(CallGraph::kQueryFirstBlockBytes);
    auto startMulti = MakeMulti(startReplayGraph);
    auto endMulti = MakeMulti(atEnd);
    std::vector<SnapshotLoadTask> tasks;
    bool startHasSnapshots = false;
    for (const ThreadPlan& plan : mPlans) {
        auto startProcessor = MakeProcessor(plan, startReplay);
        auto endProcessor = MakeProcessor(plan, endReplay);
        if (plan.ExtendsStart()) {
            // Only what the end has beyond the start is read into G(t1); G(t0) needs only the
            // processor state of the start's last snapshot.
            const std::size_t shared = plan.atStart.size();
            if (shared > 0)
                tasks.push_back(
                    {plan.atStart.back(),
                     {startProcessor.get(), shared == plan.atEnd.size() ? endProcessor.get() : nullptr},
                     {nullptr, nullptr}});
            for (std::size_t i = shared; i < plan.atEnd.size(); ++i)
                tasks.push_back({plan.atEnd[i],
                                 {i + 1 == plan.atEnd.size() ? endProcessor.get() : nullptr, nullptr},
                                 {&atEnd, nullptr}});
        } else {
            for (std::size_t i = 0; i < plan.atStart.size(); ++i)
                tasks.push_back({plan.atStart[i],
                                 {i + 1 == plan.atStart.size() ? startProcessor.get() : nullptr, nullptr},
                                 {&atStart, nullptr}});
            for (std::size_t i = 0; i < plan.atEnd.size(); ++i)
                tasks.push_back({plan.atEnd[i],
                                 {i + 1 == plan.atEnd.size() ? endProcessor.get() : nullptr, nullptr},
                                 {&atEnd, nullptr}});
            startHasSnapshots = startHasSnapshots || !plan.atStart.empty();
        }
        startMulti->AddProcessor(std::move(startProcessor));
        endMulti->AddProcessor(std::move(endProcessor));
    }
    if (!Load(tasks) || IsCanceled())
        return nullptr;
    if (!Run(*startMulti, startReplay, start, true) || IsCanceled())
        return nullptr;
    if (!Run(*endMulti, endReplay, end, true) || IsCanceled())
        return nullptr;
    if (!startHasSnapshots)
        return Difference(startReplayGraph, atEnd);
    atStart.GetRoot().MergeFrom(startReplayGraph.GetRoot());
    return Difference(atStart, atEnd);
}

uint64_t SumSizes(const std::vector<SnapshotDescription>& snapshots, std::size_t first)
{
    uint64_t bytes = 0;
    for (std::size_t i = first; i < snapshots.size(); ++i)
        bytes += snapshots[i].mSize;
    return bytes;
}

/// The cheaper path for one thread; both read the start's last snapshot for its processor state
/// and replay from it to t0, so only what they do beyond that is compared.
ERangePath ChoosePath(const ThreadPlan& plan, double start, double sampleInterval)
{
    const double startReplay = plan.atStart.empty() ? kNoSnapshot : plan.atStart.back().mTime;
    const double endReplay = plan.atEnd.empty() ? kNoSnapshot : plan.atEnd.back().mTime;
    if (endReplay == startReplay)
        return ERangePath::Replay;
    // Difference reads graph records; Replay replays [t0, endReplay) instead, at most one event per
    // sampling interval (a thread that ran all the time).
    const uint64_t recordBytes = plan.ExtendsStart() ? SumSizes(plan.atEnd, plan.atStart.size())
                                                     : SumSizes(plan.atStart, 0) + SumSizes(plan.atEnd, 0);
    const double events = std::max(0.0, endReplay - start) / sampleInterval;
    return events * kReplayEventCostBytes <= static_cast<double>(recordBytes) ? ERangePath::Replay
                                                                              : ERangePath::Difference;
}

std::unique_ptr<CallGraph> BuildRange(const CallGraphModel& model, std::vector<ThreadPlan>& plans,
                                      double start, double end, ERangePath path,
                                      Serialization::ErrorList& errors, const std::atomic<bool>& canceled)
{
    const double interval = model.GetContext().Input->GetSampleInterval();
    const double sampleInterval = interval > 0.0 ? interval : 1.0;
    std::vector<ThreadPlan> byPath[2];
    for (ThreadPlan& plan : plans) {
        plan.atStart = plan.thread->FindSnapshots(start, &plan.firstAtStart);
        plan.atEnd = plan.thread->FindSnapshots(end, &plan.firstAtEnd);
        const ERangePath chosen =
            path != ERangePath::Cheapest ? path : ChoosePath(plan, start, sampleInterval);
        byPath[chosen == ERangePath::Replay ? 1 : 0].push_back(std::move(plan));
    }
    std::unique_ptr<CallGraph> result = std::make_unique<CallGraph>();
    bool first = true;
    for (int i = 0; i < 2 && result != nullptr; ++i) {
        if (byPath[i].empty())
            continue;
        std::unique_ptr<CallGraph> part =
            RangeBuilder(model, byPath[i], errors, canceled)
                .Build(start, end, i == 1 ? ERangePath::Replay : ERangePath::Difference);
        if (part == nullptr)
            result = nullptr;
        else if (first)
            result = std::move(part);
        else
            result->GetRoot().MergeFrom(part->GetRoot());
        first = false;
    }
    // The plans go back to the caller, which returns their stack caches.
    plans.clear();
    for (auto& group : byPath)
        std::move(group.begin(), group.end(), std::back_inserter(plans));
    return result;
}

std::unique_ptr<CallGraph> BuildWholeCapture(const CallGraphModel& model,
                                             const std::vector<ThreadPlan>& plans,
                                             Serialization::ErrorList& errors,
                                             const std::atomic<bool>& canceled)
{
    auto result = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
    std::vector<SnapshotLoadTask> tasks;
    for (const ThreadPlan& plan : plans)
        if (auto last = plan.thread->GetLastSnapshot())
            tasks.push_back({*last, {nullptr, nullptr}, {result.get(), nullptr}});
    if (!LoadSnapshots(model.GetSnapshotFile(), model.GetContext().Scheduler, tasks, canceled, errors))
        return nullptr;
    return result;
}

} // namespace

std::unique_ptr<CallGraph> BuildCallGraph(const CallGraphModel& model,
                                          const CallGraphModel::GetCallGraphOperation& request,
                                          Serialization::ErrorList& errors, const std::atomic<bool>& canceled,
                                          ERangePath path)
{
    // The requested threads that the model knows, in the request's order, each once.
    std::vector<ThreadPlan> plans;
    std::unordered_set<ThreadID> seen;
    for (ThreadID id : request.mThreads) {
        const CallGraphThread* thread = model.FindThread(id);
        if (thread == nullptr || !seen.insert(id).second)
            continue;
        plans.push_back({id, thread, {}, {}, 0, 0, nullptr});
    }
    if (request.mEndTime == CallGraphModel::kEndOfCapture)
        return BuildWholeCapture(model, plans, errors, canceled);

    double start = request.mStartTime;
    double end = request.mEndTime;
    if (std::isnan(start) || std::isnan(end)) {
        errors.Add(Serialization::EErrorCode::Corrupt, "The requested time range is not a number");
        return nullptr;
    }
    if (start > end)
        std::swap(start, end);
    for (ThreadPlan& plan : plans)
        plan.stacks = model.CheckOutStackCache(plan.id);
    std::unique_ptr<CallGraph> result = BuildRange(model, plans, start, end, path, errors, canceled);
    for (ThreadPlan& plan : plans)
        model.ReturnStackCache(plan.id, std::move(plan.stacks));
    return result;
}

} // namespace Profiler
