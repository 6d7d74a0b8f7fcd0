#include "CallGraphModel/Document/CaptureQueries.h"

#include "CallGraphModel/BuildListJob.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "System/JobScheduler.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_set>

namespace Profiler {

Executor MakeInlineExecutor()
{
    return [](std::function<void()> task) { task(); };
}

struct CaptureQueries::State {
    explicit State(Executor executor, System::JobScheduler& scheduler)
        : RunCompletion(std::move(executor)), Scheduler(scheduler)
    {}

    Executor RunCompletion;
    System::JobScheduler& Scheduler;
    std::atomic<uint64_t> CallGraphGeneration{0};
    std::atomic<uint64_t> FunctionListGeneration{0};
    std::mutex Mutex; ///< guards the handles
    std::vector<System::JobHandle> CallGraphJobs;
    System::JobHandle FunctionListJob;

    /// Cancels without waiting: a job that is running finishes on its own thread, and its late
    /// result is turned into Canceled by the generation check.
    void CancelJobs(std::vector<System::JobHandle> jobs)
    {
        for (const System::JobHandle& job : jobs)
            if (job.IsValid())
                Scheduler.Cancel(System::ECancelMode::Group, job);
    }
};

namespace {

using StatePointer = std::shared_ptr<CaptureQueries::State>;

/// Hands a result to the executor. The generation is checked twice: when the result is ready and
/// when the completion runs, since a newer request may come between the two on a posted executor.
template <class Result, class Completion>
void Deliver(const StatePointer& state, const std::atomic<uint64_t> CaptureQueries::State::*generation,
             Result result, Completion completion)
{
    auto supersede = [](Result& stale) {
        stale = Result{std::move(stale.Request), EQueryOutcome::Canceled, {}, {}};
    };
    if (result.Request.Generation != ((*state).*generation).load())
        supersede(result);
    state->RunCompletion([state, generation, supersede, result = std::move(result),
                          completion = std::move(completion)]() mutable {
        if (result.Request.Generation != ((*state).*generation).load())
            supersede(result);
        completion(std::move(result));
    });
}

/// Collects the parts of one call graph request and merges them when the last one completes.
struct Gathering {
    StatePointer State;
    CallGraphRequest Request;
    CallGraphCompletion Completion;
    std::filesystem::path SnapshotsFile;
    std::mutex Mutex;
    std::size_t Remaining = 0;
    /// One slot per part, merged in this order whichever part finishes first: the merged
    /// graph's child order and its sums of floating-point times must not depend on timing.
    std::vector<std::unique_ptr<CallGraph>> Parts;
    bool Canceled = false;
    Serialization::ErrorList Errors;

    void PartDone(std::size_t part, std::unique_ptr<CallGraph> graph, bool canceled,
                  const Serialization::ErrorList& errors)
    {
        {
            std::lock_guard lock(Mutex);
            if (graph)
                Parts[part] = std::move(graph);
            else if (canceled)
                Canceled = true;
            else if (errors.IsEmpty())
                AddNamed(SnapshotsFile.string(), "The call graph could not be read");
            for (const auto& record : errors.GetErrors())
                AddNamed(record.context.empty() ? SnapshotsFile.string() : record.context, record.message);
            if (--Remaining != 0)
                return;
        }
        CallGraphResult result;
        result.Request = std::move(Request);
        if (!Errors.IsEmpty()) {
            result.Outcome = EQueryOutcome::Error;
            result.Errors = std::move(Errors);
        } else if (Canceled || std::find(Parts.begin(), Parts.end(), nullptr) != Parts.end()) {
            result.Outcome = EQueryOutcome::Canceled;
        } else {
            std::unique_ptr<CallGraph> merged = std::move(Parts.front());
            for (std::size_t i = 1; i < Parts.size(); ++i)
                merged->GetRoot().MergeFrom(Parts[i]->GetRoot());
            Parts.clear();
            result.Outcome = EQueryOutcome::Graph;
            result.Graph = std::move(merged);
        }
        Deliver(State, &CaptureQueries::State::CallGraphGeneration, std::move(result), std::move(Completion));
    }

    void AddNamed(const std::string& context, const std::string& message)
    {
        Serialization::ErrorList::ContextScope scope(Errors, context);
        Errors.Add(Serialization::EErrorCode::Corrupt, message);
    }
};

class PartRequest final : public CallGraphModel::GetCallGraphOperation {
public:
    PartRequest(const CallGraphRequest& request, std::vector<ThreadID> threads, std::size_t part,
                std::shared_ptr<Gathering> gathering)
        : GetCallGraphOperation(request.EffectiveFrom(), request.EffectiveTo(), request.MinimumDepth(),
                                std::move(threads), request.Reason),
          mPart(part), mGathering(std::move(gathering))
    {}

    ~PartRequest() override
    {
        // A job dropped without finalization still counts, or the request would never complete.
        if (mGathering)
            mGathering->PartDone(mPart, nullptr, true, {});
    }

    void Completed(std::unique_ptr<CallGraph> result, bool canceled) override
    {
        std::shared_ptr<Gathering> gathering = std::move(mGathering);
        gathering->PartDone(mPart, std::move(result), canceled, mErrors);
    }

private:
    std::size_t mPart;
    std::shared_ptr<Gathering> mGathering;
};

/// The threads of a request, each once, in the order first named.
std::vector<ThreadID> DistinctThreads(const std::vector<ThreadID>& threads)
{
    std::vector<ThreadID> distinct;
    std::unordered_set<uint32_t> seen;
    for (ThreadID thread : threads)
        if (seen.insert(static_cast<uint32_t>(thread)).second)
            distinct.push_back(thread);
    return distinct;
}

} // namespace

CaptureQueries::CaptureQueries(CaptureDocument& document, Executor executor)
    : mDocument(document), mState(std::make_shared<State>(std::move(executor), document.GetScheduler()))
{}

CaptureQueries::~CaptureQueries()
{
    CancelAll();
}

void CaptureQueries::CancelAll()
{
    mState->CallGraphGeneration.fetch_add(1);
    mState->FunctionListGeneration.fetch_add(1);
    std::vector<System::JobHandle> jobs;
    {
        std::lock_guard lock(mState->Mutex);
        jobs = std::move(mState->CallGraphJobs);
        jobs.push_back(mState->FunctionListJob);
        mState->CallGraphJobs.clear();
        mState->FunctionListJob = {};
    }
    mState->CancelJobs(std::move(jobs));
}

uint64_t CaptureQueries::GetCallGraphGeneration() const
{
    return mState->CallGraphGeneration.load();
}

uint64_t CaptureQueries::GetFunctionListGeneration() const
{
    return mState->FunctionListGeneration.load();
}

namespace {

/// Completes a request that cannot start from a job, so that the completion never runs inside
/// the Submit call, not even on an inline executor.
void CompleteLater(System::JobScheduler& scheduler, std::function<void()> complete)
{
    System::JobDescription description;
    description.detached = true;
    description.work = [](System::Job&, const std::atomic<bool>&) {};
    description.finalization = [complete = std::move(complete)](System::EJobFinalizationState state,
                                                                System::Job&) {
        if (state != System::EJobFinalizationState::CancelRequested)
            complete();
    };
    scheduler.Schedule(std::move(description));
}

} // namespace

uint64_t CaptureQueries::SubmitCallGraph(CallGraphRequest request, CallGraphCompletion completion)
{
    const uint64_t generation = mState->CallGraphGeneration.fetch_add(1) + 1;
    request.Generation = generation;
    std::vector<System::JobHandle> previous;
    {
        std::lock_guard lock(mState->Mutex);
        previous = std::move(mState->CallGraphJobs);
        mState->CallGraphJobs.clear();
    }
    mState->CancelJobs(std::move(previous));

    auto fail = [&](const Serialization::ErrorList& why) {
        CallGraphResult result;
        result.Request = request;
        result.Outcome = EQueryOutcome::Error;
        result.Errors = why;
        CompleteLater(mState->Scheduler, [state = mState, result = std::move(result),
                                          completion = std::move(completion)]() mutable {
            Deliver(state, &State::CallGraphGeneration, std::move(result), std::move(completion));
        });
        return generation;
    };
    CallGraphModel* model = mDocument.GetModel();
    if (model == nullptr) {
        Serialization::ErrorList why;
        Serialization::ErrorList::ContextScope context(why, mDocument.GetPath().string());
        why.Add(Serialization::EErrorCode::FileNotFound, "The capture has not been processed");
        return fail(why);
    }
    // Replaying the events of a range needs every file the events refer to; an answer without
    // some of them would be wrong without saying so.
    if (!request.IsWholeCapture() && !mDocument.CanAnswerRanges())
        return fail(mDocument.GetRangeProblem());

    const std::vector<ThreadID> threads =
        request.Threads.empty() ? model->GetThreadIds() : DistinctThreads(request.Threads);
    // A range rebuilds each thread's graph at both ends from its own snapshots and threads are
    // independent until they are merged at the root, so its work is split over the workers, one
    // request each, and the parts merged. The whole capture reads one snapshot per thread,
    // which costs less than merging the parts would.
    const std::size_t parts = std::max<std::size_t>(
        1, request.IsWholeCapture()
               ? 1
               : std::min<std::size_t>(mState->Scheduler.GetThreadCount(), threads.size()));
    std::vector<std::vector<ThreadID>> partThreads(parts);
    for (std::size_t i = 0; i < threads.size(); ++i)
        partThreads[i % parts].push_back(threads[i]);

    auto gathering = std::make_shared<Gathering>();
    gathering->State = mState;
    gathering->Request = request;
    gathering->Completion = std::move(completion);
    gathering->SnapshotsFile = model->GetDirectory() / CallGraphModel::kSnapshotsFileName;
    gathering->Remaining = parts;
    gathering->Parts.resize(parts);
    std::vector<System::JobHandle> jobs;
    for (std::size_t part = 0; part < parts; ++part)
        jobs.push_back(model->GetCallGraph(
            std::make_unique<PartRequest>(request, std::move(partThreads[part]), part, gathering),
            System::JobHandle{}));
    std::lock_guard lock(mState->Mutex);
    // Only the newest request's jobs are kept for canceling; an older one's are canceled already.
    if (mState->CallGraphGeneration.load() == generation)
        mState->CallGraphJobs = std::move(jobs);
    return generation;
}

uint64_t CaptureQueries::SubmitFunctionList(FunctionListRequest request, FunctionListCompletion completion)
{
    const uint64_t generation = mState->FunctionListGeneration.fetch_add(1) + 1;
    request.Generation = generation;
    System::JobHandle previous;
    {
        std::lock_guard lock(mState->Mutex);
        previous = std::exchange(mState->FunctionListJob, System::JobHandle{});
    }
    mState->CancelJobs({previous});

    FunctionQuery query;
    query.Graph = request.Graph;
    query.Scope.MinimumDepth = request.MinimumDepth;
    query.Scope.SamplingIntervalMs = mDocument.GetSampleIntervalMs();
    const System::JobHandle job = BuildListJob::Start(
        mState->Scheduler, std::move(query), mDocument.GetSharedFunctionNames(),
        [state = mState, request,
         completion = std::move(completion)](std::unique_ptr<BuildListData> data) mutable {
            FunctionListResult result;
            result.Request = std::move(request);
            result.Outcome = data ? EQueryOutcome::Graph : EQueryOutcome::Canceled;
            result.Data = std::move(data);
            Deliver(state, &State::FunctionListGeneration, std::move(result), std::move(completion));
        });
    std::lock_guard lock(mState->Mutex);
    if (mState->FunctionListGeneration.load() == generation)
        mState->FunctionListJob = job;
    return generation;
}

} // namespace Profiler
