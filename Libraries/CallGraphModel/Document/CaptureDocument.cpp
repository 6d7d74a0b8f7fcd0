#include "CallGraphModel/Document/CaptureDocument.h"

#include "CallGraphModel/Document/CaptureProcessingHandler.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "CallGraphModel/SessionOpenBarInput.h"
#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"
#include "System/DirectoryRemoval.h"
#include "System/JobScheduler.h"
#include "System/Platform/FileLock.h"
#include "System/Platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace Profiler {

namespace {

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

/// Every query job carries this tag (the model schedules them so), which lets the document
/// cancel and wait for all of them before the model they read goes away.
constexpr uint32_t kQueryJobTag = ~0u;

void AddError(Serialization::ErrorList& errors, const std::filesystem::path& file,
              Serialization::EErrorCode code, const std::string& message)
{
    Serialization::ErrorList::ContextScope context(errors, file.string());
    errors.Add(code, message);
}

void AppendErrors(Serialization::ErrorList& to, const Serialization::ErrorList& from,
                  const std::string& suffix = "")
{
    for (const auto& record : from.GetErrors()) {
        Serialization::ErrorList::ContextScope context(to, record.context);
        to.Add(record.code, record.message + suffix);
    }
}

bool IsBrokenStackFile(const std::string& path)
{
    const std::string file = std::filesystem::path(path).filename().string();
    return file == BrokenStackIndex::kDataFileName || file == BrokenStackIndex::kIndexFileName;
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
    WaitForQueries();
    if (mModel && mSession)
        mSession->UnregisterModel(*mModel);
    mModel.reset(); // waits for its writing job on the scheduler
    mScheduler.reset();
}

void CaptureDocument::WaitForQueries()
{
    System::JobHandle key;
    key.tag = kQueryJobTag;
    mScheduler->CancelAndWait(System::ECancelMode::Tag, key);
}

const std::filesystem::path& CaptureDocument::GetPath() const
{
    return mSession->GetPath();
}

bool CaptureDocument::LockForWriting(const std::filesystem::path& directory, const LockWaitCallback& onWait,
                                     System::Platform::FileLock& lock, Serialization::ErrorList& errors)
{
    using EResult = System::Platform::FileLock::EResult;
    EResult result = lock.TryLock(directory);
    if (result == EResult::Busy) {
        if (onWait)
            onWait(lock.GetMessage());
        result = lock.Lock(directory);
    }
    if (result != EResult::Locked) {
        AddError(errors, directory, Serialization::EErrorCode::FileNotFound,
                 "Cannot lock the capture for writing: " + lock.GetMessage());
        return false;
    }
    return true;
}

bool CaptureDocument::Open(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        AddError(errors, path, Serialization::EErrorCode::FileNotFound,
                 "No such capture directory or session file");
        return false;
    }
    const std::filesystem::path sessionPath = Session::GetSessionFilePath(path);
    if (!std::filesystem::is_regular_file(sessionPath, error)) {
        AddError(errors, path, Serialization::EErrorCode::FileNotFound,
                 "Not a capture: there is no .session file");
        return false;
    }
    if (Session::sLoad(sessionPath, GetRegistry(), RTTI::GetDefaultObjectFactory(), {},
                       mPlatforms->GetLookup(), mSession, mPlatform, errors) != 0)
        return false;
    if (!CheckLoadedCapture(errors)) {
        mSession.reset();
        return false;
    }
    mInput = std::make_shared<SessionOpenBarInput>(*mSession);
    mNames = std::make_shared<FunctionDisplayNames>(mSession->GetModuleDatabase());
    LoadStoredModel();
    return true;
}

bool CaptureDocument::CheckLoadedCapture(Serialization::ErrorList& errors)
{
    // The session collects what it could not load as warnings and carries on. Sort them: the
    // event stream and the call stack database are what every answer is made of, so a capture
    // without them is refused, naming the file; the broken stack files only matter to the events
    // that a range replays, so without them ranges are refused and whole captures still answered.
    const Serialization::ErrorList& warnings = mSession->GetLoadWarnings();
    for (const auto& record : warnings.GetErrors()) {
        Serialization::ErrorList& list = IsBrokenStackFile(record.context) ? mRangeProblem : mWarnings;
        Serialization::ErrorList::ContextScope context(list, record.context);
        list.Add(record.code, record.message);
    }
    AppendErrors(mWarnings, mRangeProblem, " (time ranges cannot be answered)");
    const std::filesystem::path directory = mSession->GetDirectory();
    if (mSession->GetTraceEventStream() == nullptr) {
        const auto& events = warnings.GetErrors();
        const auto found = std::find_if(events.begin(), events.end(), [](const auto& record) {
            return record.context.find("events.") != std::string::npos;
        });
        if (found != events.end())
            AddError(errors, found->context, found->code, found->message);
        else
            AddError(errors, directory / "events.dat", Serialization::EErrorCode::FileNotFound,
                     "The capture has no event stream");
        return false;
    }
    for (const auto& record : warnings.GetErrors()) {
        const std::string file = std::filesystem::path(record.context).filename().string();
        if (file.starts_with("CallstackDatabase") || file.starts_with("events.")) {
            AddError(errors, record.context, record.code, record.message);
            return false;
        }
    }
    // Without the node store every stack would read as empty: graphs of nothing but roots, and a
    // processing that replaces a good model with an empty one.
    if (!mSession->UsesNodeStore() && mSession->GetTraceEventStream()->GetNumEvents() > 0) {
        AddError(errors, directory / CallstackNodeStore::kFileName, Serialization::EErrorCode::FileNotFound,
                 "The capture's call stacks are missing");
        return false;
    }
    // Every import writes the broken stack files; without them replayed events lose their stacks.
    const std::filesystem::path brokenIndex = directory / BrokenStackIndex::kIndexFileName;
    if (mRangeProblem.IsEmpty() && mSession->GetBrokenStackReader() == nullptr) {
        const std::filesystem::path missing = System::Platform::FileExists(brokenIndex)
                                                  ? directory / BrokenStackIndex::kDataFileName
                                                  : brokenIndex;
        AddError(mRangeProblem, missing, Serialization::EErrorCode::FileNotFound, "The file is missing");
        AddError(mWarnings, missing, Serialization::EErrorCode::FileNotFound,
                 "The file is missing (time ranges cannot be answered)");
    }
    return true;
}

CallGraphModelContext CaptureDocument::MakeContext(const std::filesystem::path& directory) const
{
    return CallGraphModelContext{directory, mScheduler.get(), mInput};
}

void CaptureDocument::LoadStoredModel()
{
    const std::filesystem::path modelPath =
        mSession->GetDirectory() / CallGraphModel::kFolderName / CallGraphModel::kModelFileName;
    std::error_code error;
    mStoredModel = EStoredModel::None;
    if (!std::filesystem::exists(modelPath, error))
        return;
    // A capture written again after it was processed (an import into the same directory)
    // makes the stored model stale.
    const std::filesystem::path eventsIndex =
        mSession->GetTraceEventStream()->GetDirectory() / "events.index";
    if (std::filesystem::exists(eventsIndex, error) && !IsNoOlderThan(modelPath, eventsIndex)) {
        mStoredModel = EStoredModel::Stale;
        return;
    }
    Serialization::ErrorList modelErrors;
    std::unique_ptr<CallGraphModel> model =
        LoadCallGraphModel(MakeContext(mSession->GetDirectory()), GetRegistry(), modelErrors);
    if (!model) {
        // Made again by the next processing; until then the tools say why there is no model.
        mStoredModel = EStoredModel::Damaged;
        AppendErrors(mWarnings, modelErrors);
        return;
    }
    mModel = std::move(model);
    mStoredModel = EStoredModel::Current;
    mSession->RegisterModel(*mModel);
}

CaptureDocument::EProcessResult CaptureDocument::Process(const ProgressCallback& progress,
                                                         Serialization::ErrorList& errors, bool force,
                                                         const LockWaitCallback& onWait)
{
    if (mModel && !force)
        return EProcessResult::AlreadyProcessed;
    // Processing replays every event with its broken stack ranges; a model made without them
    // would answer wrongly ever after.
    if (!CanAnswerRanges()) {
        AppendErrors(errors, mRangeProblem);
        return EProcessResult::Failed;
    }
    const std::filesystem::path directory = mSession->GetDirectory();
    // Opening maps the call stacks without reading them; processing reads them all anyway, so
    // this is where damage anywhere in them is found, before it could become part of a model.
    if (const CallstackNodeStore* store = mSession->GetNodeStore()) {
        Serialization::ErrorList::ContextScope context(errors,
                                                       (directory / CallstackNodeStore::kFileName).string());
        if (!store->Verify(errors))
            return EProcessResult::Failed;
    }
    System::Platform::FileLock lock;
    if (!LockForWriting(directory, onWait, lock, errors))
        return EProcessResult::Failed;
    // Another writer may have processed the capture while we waited for it.
    if (!mModel) {
        LoadStoredModel();
        if (mModel && !force)
            return EProcessResult::AlreadyProcessed;
    }

    // The new model is built in a folder of its own and takes the place of the stored one only
    // when it is complete, so a failed or canceled run leaves the model that answered before.
    const std::filesystem::path building = directory / kBuildingFolderName;
    if (System::RemoveDirectory(building, errors) != System::kRemoveSucceeded)
        return EProcessResult::Failed;
    WaitForQueries();
    if (mModel)
        mSession->UnregisterModel(*mModel);
    auto model = std::make_unique<CallGraphModel>(MakeContext(building));
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
    mImportedSamples = handler.GetSampleCount();
    const bool stored = processed && model->Save(errors);
    mSession->UnregisterModel(*model);
    if (!stored) {
        model->AbandonProcessing();
        model.reset();
        Serialization::ErrorList ignored;
        (void)System::RemoveDirectory(building, ignored);
        if (mModel)
            mSession->RegisterModel(*mModel);
        return handler.WasCanceled() ? EProcessResult::Canceled : EProcessResult::Failed;
    }
    model.reset();
    if (!ReplaceStoredModel(errors) || !SaveSharedModel(errors))
        return EProcessResult::Failed;
    return EProcessResult::Processed;
}

bool CaptureDocument::ReplaceStoredModel(Serialization::ErrorList& errors)
{
    const std::filesystem::path directory = mSession->GetDirectory();
    const std::filesystem::path finalFolder = directory / CallGraphModel::kFolderName;
    const std::filesystem::path built = directory / kBuildingFolderName / CallGraphModel::kFolderName;
    const std::filesystem::path retired = directory / kBuildingFolderName / "Replaced";
    if (mModel) {
        mSession->UnregisterModel(*mModel);
        mModel.reset();
    }
    std::error_code error;
    // Two renames: between them there is no model, which the next run sees as unprocessed; the
    // old one is never half overwritten.
    if (std::filesystem::exists(finalFolder, error))
        std::filesystem::rename(finalFolder, retired, error);
    if (!error)
        std::filesystem::rename(built, finalFolder, error);
    if (error) {
        AddError(errors, finalFolder, Serialization::EErrorCode::FileNotFound,
                 "Cannot put the new model in place: " + error.message());
        return false;
    }
    Serialization::ErrorList ignored;
    (void)System::RemoveDirectory(directory / kBuildingFolderName, ignored);
    mModel = LoadCallGraphModel(MakeContext(directory), GetRegistry(), errors);
    if (!mModel)
        return false;
    mStoredModel = EStoredModel::Current;
    mSession->RegisterModel(*mModel);
    return true;
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

double CaptureDocument::GetSampleIntervalMs() const
{
    return mSession->GetSampleIntervalMs();
}

} // namespace Profiler
