#include "CaptureModel/Session.h"

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/StackResolver.h"
#include "CaptureModel/TraceEventStream.h"
#include "Serialization/AtomicFileWriter.h"
#include "Serialization/Binary.h"
#include "System/Log.h"
#include "System/Platform/FileSystem.h"

#include <algorithm>

namespace Profiler {

Session::Session() = default;
Session::~Session() = default;

std::filesystem::path Session::GetSessionFilePath(const std::filesystem::path& path)
{
    if (path.extension() == kExtension)
        return path;
    if (System::Platform::IsDirectory(path)) {
        // A capture directory holds one session file; take the first by name when there are more.
        std::vector<System::Platform::DirectoryEntry> entries;
        if (System::Platform::ListDirectory(path, entries) == System::Platform::EFileError::None)
            for (const auto& entry : entries)
                if (!entry.isDirectory && std::filesystem::path(entry.name).extension() == kExtension)
                    return path / entry.name;
    }
    return path.parent_path() / (path.stem().string() + kExtension);
}

std::filesystem::path Session::GetModelPath(const std::string& directoryName) const
{
    return GetDirectory() / directoryName / "Model.dat";
}

void Session::RegisterModel(Model& model)
{
    if (std::find(mModels.begin(), mModels.end(), &model) == mModels.end())
        mModels.push_back(&model);
}

void Session::UnregisterModel(Model& model)
{
    mModels.erase(std::remove(mModels.begin(), mModels.end(), &model), mModels.end());
}

const Thread* Session::FindThread(int32_t threadId) const
{
    auto it = mThreadIndex.find(threadId);
    return it == mThreadIndex.end() ? nullptr : &mThreadList[it->second];
}

const Process* Session::FindProcess(int32_t processId) const
{
    auto it = mProcessIndex.find(processId);
    return it == mProcessIndex.end() ? nullptr : &mProcessList[it->second];
}

double Session::GetThreadStartTimeMs(int32_t threadId) const
{
    const Thread* thread = FindThread(threadId);
    return thread ? std::max(thread->mStartTimeMs, GetStartTimeMs()) : GetStartTimeMs();
}

bool Session::UsesNodeStore() const
{
    return mNodeStore && mNodeStore->IsValid();
}

bool Session::GetCallstack(uint64_t stackId, std::vector<uint64_t>& frames) const
{
    if (UsesNodeStore()) {
        if (stackId == 0) {
            frames.clear();
            return false;
        }
        return mNodeStore->GetStack(stackId, frames);
    }
    return mCallstackDatabase.GetCallstack(stackId, frames);
}

bool Session::ResolveStack(int32_t process, uint64_t stackId, double time,
                           std::vector<ResolvedFrame>& frames) const
{
    if (mStackResolver)
        return mStackResolver->Resolve(process, stackId, time, frames);
    // Captures without a node store resolve frame by frame.
    std::vector<uint64_t> addresses;
    frames.clear();
    if (!GetCallstack(stackId, addresses))
        return false;
    uint64_t caller = ~0ull;
    for (uint64_t address : addresses) {
        frames.push_back({mModuleDatabase.Resolve(process, time, address).Function, address, caller});
        caller = address;
    }
    return true;
}

bool Session::IsStackRooted(int32_t process, uint64_t stackId, double time) const
{
    return FindRootedness(process, stackId, time).value_or(false);
}

std::optional<bool> Session::FindRootedness(int32_t process, uint64_t stackId, double time) const
{
    auto decide = [&](const ResolvedFrame& outermost) {
        return !mPlatformSession || mPlatformSession->IsStackRooted(process, outermost);
    };
    if (mStackResolver)
        return mStackResolver->IsRooted(process, stackId, time, decide);
    thread_local std::vector<ResolvedFrame> frames;
    if (!ResolveStack(process, stackId, time, frames) || frames.empty())
        return std::nullopt;
    return decide(frames.front());
}

void Session::BuildIndexes()
{
    mThreadIndex.clear();
    mProcessIndex.clear();
    // The first entry of an ID wins, as in the compatibility maps.
    for (std::size_t i = 0; i < mThreadList.size(); ++i)
        mThreadIndex.emplace(mThreadList[i].mThreadID, i);
    for (std::size_t i = 0; i < mProcessList.size(); ++i)
        mProcessIndex.emplace(mProcessList[i].mID, i);
    mStackResolver =
        UsesNodeStore() ? std::make_unique<StackResolver>(*mNodeStore, mModuleDatabase) : nullptr;
}

void Session::AddWarning(Serialization::ErrorList& source)
{
    for (const auto& record : source.GetErrors()) {
        System::Log("%s: %s", record.context.c_str(), record.message.c_str());
        mLoadWarnings.PushContext(record.context);
        mLoadWarnings.Add(record.code, record.message);
        mLoadWarnings.PopContext();
    }
    source.Clear();
}

bool Session::Save(Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, mPath.string());
    // The session file commits the capture: everything it points into must be on disk before it
    // takes its name. The files go to disk together, with the session file, joining the batch of
    // whoever wrote the capture's data before: one wait instead of two per file.
    Serialization::SyncBatch ownBatch;
    Serialization::SyncBatch* batch = Serialization::SyncBatch::Current();
    if (!batch)
        batch = &ownBatch;
    Serialization::SyncBatch::Scope scope(batch);
    if (mSharedModel && !mSharedModel->Save(GetDirectory(), errors))
        return false;
    for (Model* model : mModels)
        if (!model->Save(errors))
            return false;
    if (mEventStream && !mEventStream->SaveIndex(GetDirectory() / TraceEventStream::kIndexFileName, errors))
        return false;
    if (UsesNodeStore() && !mNodeStore->Save(GetDirectory() / CallstackNodeStore::kFileName, errors))
        return false;
    // The data files that the indexes point into were appended to, not written atomically.
    for (const char* name : {TraceEventStream::kDataFileName, BrokenStackIndex::kDataFileName}) {
        std::error_code error;
        if (std::filesystem::exists(GetDirectory() / name, error))
            batch->AddFile(GetDirectory() / name);
    }
    batch->CommitNext();
    if (!Serialization::WriteBinaryFile(mPath, {&mInfo, this}, errors)) {
        if (!batch->GetError().empty())
            errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Unable to write %s to disk",
                                batch->GetError().c_str());
        return false;
    }
    return true;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::Session, 9)
{
    type.Property("ThreadCompatibilityMap", &Session::mThreadCompatibilityMap)
        .Property("ProcessCompatibilityMap", &Session::mProcessCompatibilityMap)
        .Property("ProcessList", &Session::mProcessList)
        .Property("ThreadList", &Session::mThreadList)
        .Property("NonCapturedProcesses", &Session::mNonCapturedProcesses)
        .Property("ModuleDatabase", &Session::mModuleDatabase)
        .Property("CallstackDatabase", &Session::mCallstackDatabase)
        .Property("PlatformSession", &Session::mPlatformSession);
}
