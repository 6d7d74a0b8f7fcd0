#include "Runtime/CaptureDocument.h"

#include "CallGraphModel/SessionOpenBarInput.h"
#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"
#include "Runtime/CaptureProcessingHandler.h"
#include "Runtime/FunctionDisplayNames.h"
#include "System/JobScheduler.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

namespace Profiler {

namespace {

/// Hands the outcome of a call graph request to the waiting caller.
class WaitedRequest final : public CallGraphModel::GetCallGraphOperation {
public:
    struct Outcome {
        std::unique_ptr<CallGraph> graph;
        bool canceled = false;
        Serialization::ErrorList errors;
    };

    WaitedRequest(double start, double end, std::vector<ThreadID> threads, std::promise<Outcome> promise)
        : GetCallGraphOperation(start, end, 0, std::move(threads), 0), mPromise(std::move(promise))
    {}

    void Completed(std::unique_ptr<CallGraph> result, bool canceled) override
    {
        Outcome outcome;
        outcome.graph = std::move(result);
        outcome.canceled = canceled;
        outcome.errors = mErrors;
        mPromise.set_value(std::move(outcome));
        mAnswered = true;
    }

    ~WaitedRequest() override
    {
        // A job dropped without finalization must not leave the caller waiting.
        if (!mAnswered) {
            Outcome outcome;
            outcome.canceled = true;
            mPromise.set_value(std::move(outcome));
        }
    }

private:
    std::promise<Outcome> mPromise;
    bool mAnswered = false;
};

uint32_t DefaultWorkerCount()
{
    return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
}

/// Whether `file` was written no earlier than `reference` (both exist).
bool IsNoOlderThan(const std::filesystem::path& file, const std::filesystem::path& reference)
{
    std::error_code error;
    const auto fileTime = std::filesystem::last_write_time(file, error);
    if (error)
        return false;
    const auto referenceTime = std::filesystem::last_write_time(reference, error);
    return error || fileTime >= referenceTime;
}

} // namespace

RTTI::Registry& CaptureDocument::GetRegistry()
{
    // Registration is global to the program and the registry lives as long as it does, since
    // sessions and models keep referring to its types.
    static RTTI::Registry& registry = *[] {
        auto* made = new RTTI::Registry;
        RegisterAllCaptureTypes(*made);
        CallGraphModel::RegisterTypes(*made);
        return made;
    }();
    return registry;
}

CaptureDocument::CaptureDocument(uint32_t workerThreads)
    : mPlatforms(std::make_unique<PlatformRegistry>()),
      mScheduler(
          std::make_unique<System::JobScheduler>(workerThreads > 0 ? workerThreads : DefaultWorkerCount()))
{}

CaptureDocument::~CaptureDocument()
{
    if (mModel && mSession)
        mSession->UnregisterModel(*mModel);
    mModel.reset(); // waits for its writing job on the scheduler
    mScheduler.reset();
}

const std::filesystem::path& CaptureDocument::GetPath() const
{
    return mSession->GetPath();
}

bool CaptureDocument::Open(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        Serialization::ErrorList::ContextScope context(errors, path.string());
        errors.Add(Serialization::EErrorCode::FileNotFound, "No such capture directory or session file");
        return false;
    }
    const std::filesystem::path sessionPath = Session::GetSessionFilePath(path);
    if (!std::filesystem::is_regular_file(sessionPath, error)) {
        Serialization::ErrorList::ContextScope context(errors, path.string());
        errors.Add(Serialization::EErrorCode::FileNotFound, "Not a capture: there is no .session file");
        return false;
    }
    if (Session::sLoad(sessionPath, GetRegistry(), RTTI::GetDefaultObjectFactory(), {},
                       mPlatforms->GetLookup(), mSession, mPlatform, errors) != 0)
        return false;
    // Without its events a capture has nothing to process or answer; say which file is missing.
    if (mSession->GetTraceEventStream() == nullptr) {
        const Serialization::ErrorList& warnings = mSession->GetLoadWarnings();
        Serialization::ErrorList::ContextScope context(
            errors, warnings.IsEmpty() ? (mSession->GetDirectory() / "events.dat").string()
                                       : warnings.GetErrors().front().context);
        errors.Add(Serialization::EErrorCode::FileNotFound, warnings.IsEmpty()
                                                                ? "The capture has no event stream"
                                                                : warnings.GetErrors().front().message);
        mSession.reset();
        return false;
    }
    mInput = std::make_shared<SessionOpenBarInput>(*mSession);
    mNames = std::make_shared<FunctionDisplayNames>(mSession->GetModuleDatabase());
    Serialization::ErrorList modelErrors;
    // A stored model that cannot be read is made again by the next processing.
    LoadStoredModel(modelErrors);
    return true;
}

CallGraphModelContext CaptureDocument::MakeContext() const
{
    return CallGraphModelContext{mSession->GetDirectory(), mScheduler.get(), mInput};
}

bool CaptureDocument::LoadStoredModel(Serialization::ErrorList& errors)
{
    const std::filesystem::path modelPath =
        mSession->GetDirectory() / CallGraphModel::kFolderName / CallGraphModel::kModelFileName;
    std::error_code error;
    if (!std::filesystem::exists(modelPath, error))
        return false;
    // A capture written again after it was processed (an import into the same directory)
    // makes the stored model stale.
    const std::filesystem::path eventsIndex =
        mSession->GetTraceEventStream()->GetDirectory() / "events.index";
    if (std::filesystem::exists(eventsIndex, error) && !IsNoOlderThan(modelPath, eventsIndex))
        return false;
    std::unique_ptr<CallGraphModel> model = LoadCallGraphModel(MakeContext(), GetRegistry(), errors);
    if (!model)
        return false;
    mModel = std::move(model);
    mSession->RegisterModel(*mModel);
    return true;
}

CaptureDocument::EProcessResult CaptureDocument::Process(const ProgressCallback& progress,
                                                         Serialization::ErrorList& errors, bool force)
{
    if (mModel && !force)
        return EProcessResult::AlreadyProcessed;
    if (mModel) {
        mSession->UnregisterModel(*mModel);
        mModel.reset();
    }
    auto model = std::make_unique<CallGraphModel>(MakeContext());
    mSession->RegisterModel(*model);

    std::atomic<bool> canceled{false};
    CaptureProcessingHandler handler(*mInput, canceled);
    mInput->ClearFiberState();
    auto onProgress = [&](double fraction) {
        handler.SetFraction(fraction);
        if (progress && !progress(fraction))
            canceled.store(true, std::memory_order_relaxed);
    };
    const bool processed = mSession->Reprocess(handler, onProgress, errors);
    mProcessedEvents = handler.GetEventCount();
    mProcessedSamples = handler.GetSampleCount();
    bool stored = processed && model->Save(errors) && SaveSharedModel(errors);
    if (!stored) {
        // Leave no half-written model behind: the next run starts over.
        model->AbandonProcessing();
        Serialization::ErrorList ignored;
        model->DeleteStoredData(ignored);
        mSession->UnregisterModel(*model);
        return handler.WasCanceled() ? EProcessResult::Canceled : EProcessResult::Failed;
    }
    mModel = std::move(model);
    return EProcessResult::Processed;
}

bool CaptureDocument::SaveSharedModel(Serialization::ErrorList& errors)
{
    if (SharedModel* shared = mSession->GetSharedModel()) {
        mInput->StoreFiberState(*shared);
        return shared->Save(mSession->GetDirectory(), errors);
    }
    SharedModel shared;
    mInput->StoreFiberState(shared);
    return shared.Save(mSession->GetDirectory(), errors);
}

std::vector<ThreadID> CaptureDocument::GetModelThreads() const
{
    return mModel ? mModel->GetThreadIds() : std::vector<ThreadID>{};
}

double CaptureDocument::GetCaptureEndTime() const
{
    double end = mSession->GetEndTimeMs();
    if (const TraceEventStream* stream = mSession->GetTraceEventStream())
        for (const auto& chunk : stream->GetChunks())
            end = std::max(end, chunk.mEndTime);
    return end;
}

std::unique_ptr<CallGraph> CaptureDocument::QueryCallGraph(const Selection& selection,
                                                           Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, mSession->GetPath().string());
    if (!mModel) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "The capture has not been processed");
        return nullptr;
    }
    const std::vector<ThreadID> threads =
        selection.threads.empty() ? mModel->GetThreadIds() : selection.threads;
    // A range rebuilds each thread's graph at both ends from its own snapshots and threads are
    // independent until they are merged at the root, so its work is split over the workers, one
    // request group each, and the parts merged. The whole capture reads one snapshot per thread,
    // which costs less than merging the parts would.
    const std::size_t parts =
        selection.IsWholeCapture() ? 1 : std::min<std::size_t>(mScheduler->GetThreadCount(), threads.size());
    std::vector<std::vector<ThreadID>> partThreads(std::max<std::size_t>(parts, 1));
    for (std::size_t i = 0; i < threads.size(); ++i)
        partThreads[i % partThreads.size()].push_back(threads[i]);

    std::vector<std::future<WaitedRequest::Outcome>> futures;
    for (std::vector<ThreadID>& part : partThreads) {
        std::promise<WaitedRequest::Outcome> promise;
        futures.push_back(promise.get_future());
        mModel->GetCallGraph(std::make_unique<WaitedRequest>(selection.from, selection.to, std::move(part),
                                                             std::move(promise)),
                             System::JobHandle{});
    }
    std::vector<WaitedRequest::Outcome> outcomes;
    for (auto& future : futures)
        outcomes.push_back(future.get());

    for (WaitedRequest::Outcome& outcome : outcomes) {
        if (outcome.graph)
            continue;
        if (outcome.errors.IsEmpty())
            errors.Add(Serialization::EErrorCode::Corrupt, "The call graph query was canceled");
        // The model's records are read from its snapshot file; a damaged one is made anew by
        // processing the capture again.
        const std::string snapshots = (mModel->GetDirectory() / CallGraphModel::kSnapshotsFileName).string();
        for (const auto& record : outcome.errors.GetErrors()) {
            Serialization::ErrorList::ContextScope inner(errors,
                                                         record.context.empty() ? snapshots : record.context);
            errors.Add(record.code, record.message + " (process the capture again with --force)");
        }
        return nullptr;
    }
    std::unique_ptr<CallGraph> result = std::move(outcomes.front().graph);
    for (std::size_t i = 1; i < outcomes.size(); ++i)
        result->GetRoot().MergeFrom(outcomes[i].graph->GetRoot());
    return result;
}

std::unique_ptr<BuildListData> CaptureDocument::QueryFunctionList(std::shared_ptr<const CallGraph> graph,
                                                                  Serialization::ErrorList& errors,
                                                                  int32_t minimumDepth)
{
    FunctionQuery query;
    query.Graph = std::move(graph);
    query.Scope.MinimumDepth = minimumDepth;
    query.Scope.SamplingIntervalMs = mSession->GetSampleIntervalMs();
    std::promise<std::unique_ptr<BuildListData>> promise;
    std::future<std::unique_ptr<BuildListData>> future = promise.get_future();
    BuildListJob::Start(
        *mScheduler, std::move(query), mNames,
        [&promise](std::unique_ptr<BuildListData> data) { promise.set_value(std::move(data)); });
    std::unique_ptr<BuildListData> data = future.get();
    if (!data) {
        Serialization::ErrorList::ContextScope context(errors, mSession->GetPath().string());
        errors.Add(Serialization::EErrorCode::Corrupt, "The function list job was canceled");
    }
    return data;
}

} // namespace Profiler
