#include "CaptureModel/CaptureWriter.h"

#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamWriter.h"
#include "Serialization/AtomicFileWriter.h"
#include "System/Log.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace Profiler {

namespace {

const Platform& GetLinuxPlatform()
{
    static const LinuxPlatform platform;
    return platform;
}

} // namespace

CaptureWriter::CaptureWriter() : mSession(std::make_unique<Session>())
{
    mSession->mNodeStore = std::make_unique<CallstackNodeStore>();
    mSession->mNodeStore->Initialise();
    auto platformSession = std::make_unique<LinuxPlatformSession>();
    mPlatformSession = platformSession.get();
    mSession->mPlatformSession = std::move(platformSession);
}

CaptureWriter::~CaptureWriter() = default;

bool CaptureWriter::Open(const std::filesystem::path& directory, RTTI::Registry& registry,
                         const Options& options, Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, directory.string());
    if (mOpen || mFinished) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The capture writer is already in use");
        return false;
    }
    std::error_code error;
    if (std::filesystem::exists(directory, error)) {
        if (!std::filesystem::is_directory(directory, error) ||
            !std::filesystem::is_empty(directory, error)) {
            errors.AddFormatted(
                Serialization::EErrorCode::WriteFailed,
                "The capture directory %s is not empty; captures are only written into new or "
                "empty directories",
                directory.string().c_str());
            return false;
        }
    } else if (!std::filesystem::create_directories(directory, error) || error) {
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Unable to create directory %s: %s",
                            directory.string().c_str(), error.message().c_str());
        return false;
    }
    if (options.eventsPerChunk == 0 || options.bytesPerChunk == 0) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The chunk limits must not be zero");
        return false;
    }

    RegisterAllCaptureTypes(registry);
    mOptions = options;
    mDirectory = directory;
    std::string name = std::filesystem::absolute(directory, error).lexically_normal().filename().string();
    if (name.empty())
        name =
            std::filesystem::absolute(directory, error).lexically_normal().parent_path().filename().string();
    if (name.empty())
        name = "Capture";
    mSessionPath = directory / (name + Session::kExtension);

    mSession->mPath = mSessionPath;
    mEvents = std::make_unique<TraceEventStreamWriter>();
    if (!mEvents->Open(directory, errors))
        return false;
    mOpen = true;
    return true;
}

Process& CaptureWriter::AddProcess(int32_t processId, std::string name)
{
    auto [it, inserted] = mProcesses.try_emplace(processId);
    if (inserted) {
        it->second.mID = processId;
        it->second.mDisplayID = processId;
        it->second.mName = std::move(name);
        it->second.mStartTimeMs = std::numeric_limits<double>::quiet_NaN();
        it->second.mEndTimeMs = std::numeric_limits<double>::quiet_NaN();
        mProcessOrder.push_back(processId);
    }
    return it->second;
}

Process* CaptureWriter::FindProcess(int32_t processId)
{
    auto it = mProcesses.find(processId);
    return it == mProcesses.end() ? nullptr : &it->second;
}

Thread& CaptureWriter::AddThread(int32_t processId, int32_t threadId, std::string name)
{
    AddProcess(processId, {});
    auto [it, inserted] = mThreads.try_emplace(threadId);
    if (inserted) {
        it->second.mProcessID = processId;
        it->second.mThreadID = threadId;
        it->second.mDisplayThreadID = threadId;
        it->second.mThreadName = std::move(name);
        it->second.mStartTimeMs = std::numeric_limits<double>::quiet_NaN();
        it->second.mEndTimeMs = std::numeric_limits<double>::quiet_NaN();
        mThreadOrder.push_back(threadId);
    }
    return it->second;
}

Thread* CaptureWriter::FindThread(int32_t threadId)
{
    auto it = mThreads.find(threadId);
    return it == mThreads.end() ? nullptr : &it->second;
}

void CaptureWriter::AddThreadName(int32_t threadId, double timeMs, std::string name)
{
    // Collected and handed over sorted once at the end: inserting each in order would cost a
    // move of the history per thread.
    mThreadNames.push_back({threadId, timeMs, std::move(name)});
}

uint32_t CaptureWriter::AddNativeModule(std::string name, std::string path, int32_t imageSize,
                                        NativeModule::ESymbolLookupAddressMode mode)
{
    auto module = std::make_unique<NativeModule>();
    module->mName = std::move(name);
    module->mPath = std::move(path);
    module->mImageSize = imageSize;
    module->mSymbolLookupAddressMode = mode;
    module->mResolveStatus = NativeModule::EResolveStatus::Resolved;
    return GetModuleDatabase().AddNativeModule(std::move(module));
}

void CaptureWriter::AddModuleInstance(uint32_t moduleIndex, int32_t processId, uint64_t imageBase,
                                      double loadTimeMs, double unloadTimeMs)
{
    GetModuleDatabase().AddNativeModuleInstance(
        {imageBase, loadTimeMs, unloadTimeMs, processId, moduleIndex});
}

uint64_t CaptureWriter::AllocateModuleBase(int32_t processId)
{
    auto [it, inserted] = mNextModuleBase.try_emplace(processId, kSyntheticBaseStart);
    const uint64_t base = it->second;
    it->second += kSyntheticBaseStride;
    return base;
}

bool CaptureWriter::AddFunction(uint32_t moduleIndex, uint64_t address, uint64_t size, std::string name)
{
    Function function;
    function.mRelativeAddress = address;
    function.mSize = size;
    function.mName = std::move(name);
    return GetModuleDatabase().AddFunction(moduleIndex, std::move(function));
}

ModuleDatabase& CaptureWriter::GetModuleDatabase()
{
    return mSession->mModuleDatabase;
}

uint64_t CaptureWriter::AddStack(std::span<const uint64_t> outermostFirst)
{
    return mSession->mNodeStore->InsertStack(outermostFirst);
}

uint64_t CaptureWriter::AddStackInnermostFirst(std::span<const uint64_t> innermostFirst)
{
    uint64_t id = 0;
    for (auto it = innermostFirst.rbegin(); it != innermostFirst.rend(); ++it)
        id = AddFrame(id, *it);
    return id;
}

uint64_t CaptureWriter::AddFrame(uint64_t parentStackId, uint64_t address)
{
    return mSession->mNodeStore->Insert(address, parentStackId).first;
}

bool CaptureWriter::Accept(double timeMs, int32_t processId, int32_t threadId)
{
    if (!mOpen || !mWriteErrors.IsEmpty() || std::isnan(timeMs) || timeMs < mLastTime) {
        ++mRefusedEvents;
        return false;
    }
    mLastTime = timeMs;
    ++mEventCount;
    // Events of one thread tend to come together (a sample's weight, then the sample), so the
    // last thread's entry is kept: with 100,000 threads each map lookup costs a cache miss per
    // level.
    if (!mLastThreadTimes || threadId != mLastThreadId) {
        if (!FindThread(threadId))
            AddThread(processId, threadId, {});
        mLastThreadId = threadId;
        mLastThreadTimes = &mThreadTimes[threadId];
    }
    ThreadTimes& times = *mLastThreadTimes;
    times.first = std::min(times.first, timeMs);
    times.last = std::max(times.last, timeMs);
    return true;
}

bool CaptureWriter::FlushIfFull()
{
    if (mEvents->GetPendingEventCount() < mOptions.eventsPerChunk &&
        mEvents->GetPendingBytes() < mOptions.bytesPerChunk)
        return true;
    return mEvents->FlushChunk(mWriteErrors);
}

bool CaptureWriter::AddSample(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId)
{
    if (!Accept(timeMs, processId, threadId))
        return false;
    mEvents->AddSample(timeMs, static_cast<ProcessID>(processId), static_cast<ThreadID>(threadId), stackId);
    return FlushIfFull();
}

bool CaptureWriter::AddSampleWeight(double timeMs, int32_t processId, int32_t threadId, uint64_t weight)
{
    TraceEvent event;
    event.kind = kSampleWeightKind;
    event.time = timeMs;
    event.processId = static_cast<ProcessID>(processId);
    event.threadId = static_cast<ThreadID>(threadId);
    event.data64[0] = weight;
    return AddEvent(event);
}

bool CaptureWriter::AddSwitchOut(double timeMs, int32_t processId, int32_t threadId, uint8_t waitReason)
{
    if (!Accept(timeMs, processId, threadId))
        return false;
    mEvents->AddContextSwitchOut(timeMs, static_cast<ProcessID>(processId), static_cast<ThreadID>(threadId),
                                 waitReason);
    return FlushIfFull();
}

bool CaptureWriter::AddSwitchIn(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId)
{
    if (!Accept(timeMs, processId, threadId))
        return false;
    mEvents->AddContextSwitchIn(timeMs, static_cast<ProcessID>(processId), static_cast<ThreadID>(threadId),
                                stackId);
    return FlushIfFull();
}

bool CaptureWriter::AddZoneBegin(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId,
                                 std::string_view name, std::string_view detail)
{
    GetModuleDatabase().RegisterZone(name);
    TraceEvent event;
    event.kind = ETraceEventKind::ZoneBegin;
    event.time = timeMs;
    event.processId = static_cast<ProcessID>(processId);
    event.threadId = static_cast<ThreadID>(threadId);
    event.stackId = stackId;
    event.text[0] = name;
    event.text[1] = detail;
    return AddEvent(event);
}

bool CaptureWriter::AddZoneEnd(double timeMs, int32_t processId, int32_t threadId)
{
    if (!Accept(timeMs, processId, threadId))
        return false;
    mEvents->AddZoneEnd(timeMs, static_cast<ProcessID>(processId), static_cast<ThreadID>(threadId));
    return FlushIfFull();
}

bool CaptureWriter::AddThreadEnd(double timeMs, int32_t processId, int32_t threadId)
{
    if (!Accept(timeMs, processId, threadId))
        return false;
    mEvents->AddThreadStatus(timeMs, static_cast<ProcessID>(processId), static_cast<ThreadID>(threadId),
                             kThreadEndedStatus);
    return FlushIfFull();
}

bool CaptureWriter::AddEvent(const TraceEvent& event)
{
    if (event.kind >= ETraceEventKind::EndMarker) {
        ++mRefusedEvents;
        return false;
    }
    // A chunk holds at most 4 GiB of payload; cut it before an event that would not fit.
    const std::size_t textBytes = event.text[0].size() + event.text[1].size();
    if (textBytes >= mOptions.bytesPerChunk / 2 && mEvents && !mEvents->FlushChunk(mWriteErrors))
        return false;
    if (textBytes > (1u << 30)) {
        ++mRefusedEvents;
        return false;
    }
    const auto processId = static_cast<int32_t>(event.processId);
    const auto threadId = static_cast<int32_t>(event.threadId);
    if (!Accept(event.time, processId, threadId))
        return false;
    if (!mEvents->Add(event)) {
        --mEventCount;
        ++mRefusedEvents;
        return false;
    }
    return FlushIfFull();
}

bool CaptureWriter::Finish(Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, mDirectory.string());
    if (!mOpen) {
        errors.Add(Serialization::EErrorCode::WriteFailed,
                   mFinished ? "The capture was finished already" : "The capture writer was not opened");
        return false;
    }
    mOpen = false;
    mFinished = true;
    // The files written from here on go to disk together before the session file commits them.
    Serialization::SyncBatch batch;
    Serialization::SyncBatch::Scope batchScope(&batch);
    if (!mWriteErrors.IsEmpty()) {
        for (const auto& record : mWriteErrors.GetErrors())
            errors.Add(record.code, record.message);
        return false;
    }
    if (mRefusedEvents > 0)
        System::Log("The capture writer refused %llu events (out of time order or not storable)",
                    static_cast<unsigned long long>(mRefusedEvents));
    if (!mEvents->Close(errors))
        return false;
    Session& session = *mSession;
    session.mEventStream = mEvents->TakeStream();
    if (!session.mEventStream->OpenDataFile(mDirectory, errors))
        return false;

    // The header. Without explicit bounds the capture spans its events.
    const bool hasEvents = mEventCount > 0;
    double firstEvent = hasEvents ? std::numeric_limits<double>::infinity() : 0.0;
    for (const auto& [thread, times] : mThreadTimes)
        firstEvent = std::min(firstEvent, times.first);
    SessionInfo& info = session.mInfo;
    info.mSampleIntervalMs = mOptions.sampleIntervalMs;
    info.mSessionStartTimeMs = std::isnan(mOptions.startTimeMs) ? firstEvent : mOptions.startTimeMs;
    info.mSessionEndTimeMs = std::isnan(mOptions.endTimeMs)
                                 ? (hasEvents ? mLastTime : info.mSessionStartTimeMs)
                                 : mOptions.endTimeMs;
    info.mPlatformID = LinuxPlatform::kID;

    mPlatformSession->AddThreadNames(std::move(mThreadNames));
    mThreadNames.clear();

    // Threads and processes, with the times their events span where none were given.
    std::unordered_set<int32_t> listed; // threads in their process's order already
    for (const auto& [processId, process] : mProcesses)
        listed.insert(process.mThreadOrder.begin(), process.mThreadOrder.end());
    std::unordered_map<int32_t, std::pair<double, double>> processSpans;
    for (int32_t id : mThreadOrder) {
        Thread thread = mThreads.at(id);
        auto times = mThreadTimes.find(id);
        const bool seen = times != mThreadTimes.end();
        if (std::isnan(thread.mStartTimeMs))
            thread.mStartTimeMs = seen ? times->second.first : info.mSessionStartTimeMs;
        if (std::isnan(thread.mEndTimeMs))
            thread.mEndTimeMs = seen ? times->second.last : info.mSessionEndTimeMs;
        if (thread.mThreadName.empty())
            thread.mThreadName = mPlatformSession->GetThreadName(id, std::numeric_limits<double>::max());
        Process& process = mProcesses.at(thread.mProcessID);
        // One pass over the threads: a capture of a busy machine has hundreds of thousands.
        if (listed.insert(id).second)
            process.mThreadOrder.push_back(id);
        auto [span, added] =
            processSpans.try_emplace(thread.mProcessID, thread.mStartTimeMs, thread.mEndTimeMs);
        if (!added) {
            span->second.first = std::min(span->second.first, thread.mStartTimeMs);
            span->second.second = std::max(span->second.second, thread.mEndTimeMs);
        }
        session.mThreadList.push_back(std::move(thread));
    }
    for (int32_t id : mProcessOrder) {
        Process process = std::move(mProcesses.at(id));
        double start = std::numeric_limits<double>::infinity();
        double end = -std::numeric_limits<double>::infinity();
        if (auto span = processSpans.find(id); span != processSpans.end()) {
            start = std::min(start, span->second.first);
            end = std::max(end, span->second.second);
        }
        if (std::isnan(process.mStartTimeMs))
            process.mStartTimeMs = std::isinf(start) ? info.mSessionStartTimeMs : start;
        if (std::isnan(process.mEndTimeMs))
            process.mEndTimeMs = std::isinf(end) ? info.mSessionEndTimeMs : end;
        session.mProcessList.push_back(std::move(process));
    }

    session.mPlatform = &GetLinuxPlatform();
    session.mModuleDatabase.Prepare();
    session.mSharedModel = std::make_unique<SharedModel>();
    session.BuildIndexes();
    session.mPlatformSession->Attach(session);
    if (!session.RebuildBrokenStacks(errors))
        return false;
    return session.Save(errors);
}

} // namespace Profiler
