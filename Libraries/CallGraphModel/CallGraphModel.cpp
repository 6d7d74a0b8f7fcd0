#include "CallGraphModel/CallGraphModel.h"

#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "System/DirectoryRemoval.h"
#include "System/JobScheduler.h"
#include "System/Platform/ErrorText.h"
#include "Utility/Assert.h"

#include <bit>
#include <cmath>
#include <system_error>

namespace Profiler {

namespace {

int GetSnapshotInterval(double time)
{
    const double interval = std::trunc(time / CallGraphModel::kSnapshotIntervalMs);
    if (!(interval < static_cast<double>(std::numeric_limits<int>::max())))
        return std::numeric_limits<int>::max();
    if (!(interval > 0.0))
        return 0;
    return static_cast<int>(interval);
}

} // namespace

CallGraphModel::CallGraphModel(CallGraphModelContext context)
    : mContext(std::move(context)), mDirectory(mContext.SessionDirectory / kFolderName)
{
    std::error_code error;
    // A folder that cannot be made shows up as a file that cannot be opened.
    std::filesystem::create_directories(mDirectory, error);
}

CallGraphModel::~CallGraphModel()
{
    if (mWritingJob.IsValid() && mContext.Scheduler != nullptr)
        mContext.Scheduler->Wait(mWritingJob);
}

ThreadProcessingState* CallGraphModel::BeginThread(OpenBarProcessor& processor)
{
    const ThreadID id = processor.GetThreadId();
    if (!QX_ASSERT(FindState(id) == nullptr, "thread %u is being processed already",
                   static_cast<uint32_t>(id)))
        return FindState(id);
    CallGraphThread* thread = nullptr;
    {
        std::lock_guard lock(mThreadsMutex);
        std::unique_ptr<CallGraphThread>& slot = mThreads[id];
        if (slot == nullptr)
            slot = std::make_unique<CallGraphThread>(id);
        thread = slot.get();
    }
    mStateIndex[id] = mStates.size();
    mStates.push_back(std::make_unique<CallGraphThreadProcessingState>(*thread, processor));
    return mStates.back().get();
}

bool CallGraphModel::EndThread(OpenBarProcessor& processor, Serialization::ErrorList& errors)
{
    CallGraphThreadProcessingState* state = FindState(processor.GetThreadId());
    if (!QX_ASSERT(state != nullptr, "thread %u is not being processed",
                   static_cast<uint32_t>(processor.GetThreadId())))
        return false;
    if (!WaitForWritingJob(errors))
        return false;
    processor.CloseAll();
    std::vector<uint8_t> processorState;
    processor.Serialize(processorState);
    const CallGraph& delta = *state->mDeltas[state->mCurrentDelta];
    if (!state->mThread->HasSnapshotAt(kEndOfCapture)) {
        // Before its first snapshot a thread's whole graph is the delta graph.
        if (state->mCumulative == nullptr) {
            SerializeRecord(processorState, delta);
        } else {
            state->mCumulative->MergeFrom(delta.GetRoot());
            SerializeRecord(processorState, *state->mCumulative);
        }
        if (!StoreRecord(*state->mThread, ESnapshotType::Full, kEndOfCapture, errors))
            return false;
    }
    // Swap with the last so that ending each of many threads costs the same.
    const std::size_t index = mStateIndex.at(processor.GetThreadId());
    mStateIndex.erase(processor.GetThreadId());
    if (index + 1 != mStates.size()) {
        mStates[index] = std::move(mStates.back());
        mStateIndex[mStates[index]->mThread->GetThreadId()] = index;
    }
    mStates.pop_back();
    return true;
}

bool CallGraphModel::CanEndThreadEarly(const ThreadProcessingState& state) const
{
    // A thread with events since its last snapshot still owes the next tick a snapshot. Its
    // first one is the whole graph as it stands, which can be kept; a later one is a Delta
    // (or a Full one, by size) of graphs that only a live thread keeps.
    const auto& graphState = static_cast<const CallGraphThreadProcessingState&>(state);
    return !graphState.mDirty || graphState.mSnapshotCount == 0;
}

bool CallGraphModel::EndThreadEarly(OpenBarProcessor& processor, Serialization::ErrorList& errors)
{
    CallGraphThreadProcessingState* state = FindState(processor.GetThreadId());
    if (!QX_ASSERT(state != nullptr, "thread %u is not being processed",
                   static_cast<uint32_t>(processor.GetThreadId())))
        return false;
    if (!state->mDirty)
        return EndThread(processor, errors);
    if (!QX_ASSERT(state->mSnapshotCount == 0, "thread %u owes a tick a Delta snapshot",
                   static_cast<uint32_t>(processor.GetThreadId())))
        return false;
    // No tick can come when the capture's last event lies in the current interval.
    const double lastEvent = mContext.Input != nullptr ? mContext.Input->GetLastEventTime()
                                                       : std::numeric_limits<double>::infinity();
    if (std::isfinite(lastEvent) && GetSnapshotInterval(lastEvent) == mLastInterval)
        return EndThread(processor, errors);
    // What the next tick would have written: the open bars and the graph before they close.
    PendingSnapshot pending{state->mThread, {}};
    processor.Serialize(pending.record);
    RecordWriter writer(pending.record);
    state->mDeltas[state->mCurrentDelta]->GetRoot().Serialize(writer);
    if (!EndThread(processor, errors))
        return false;
    mPendingSnapshots.push_back(std::move(pending));
    return true;
}

bool CallGraphModel::StorePendingSnapshots(double time, Serialization::ErrorList& errors)
{
    for (PendingSnapshot& pending : mPendingSnapshots) {
        mWriteBuffer.swap(pending.record);
        if (!StoreRecord(*pending.thread, ESnapshotType::Full, time, errors, true))
            return false;
    }
    mPendingSnapshots.clear();
    return true;
}

void CallGraphModel::EndProcessing()
{
    mPendingSnapshots.clear();
}

bool CallGraphModel::Progress(const ProcessingProgress& progress, ThreadProcessingState& state,
                              Serialization::ErrorList& errors)
{
    if (!SnapshotTick(progress.CaptureTime, errors))
        return false;
    static_cast<CallGraphThreadProcessingState&>(state).mDirty = true;
    return true;
}

void CallGraphModel::AbandonProcessing()
{
    if (mWritingJob.IsValid())
        mContext.Scheduler->Wait(mWritingJob);
    mWritingJob = {};
    mStates.clear();
    mStateIndex.clear();
    mPendingSnapshots.clear();
}

bool CallGraphModel::BeginProcessing(Serialization::ErrorList& errors)
{
    return mSnapshots.Open(mDirectory / kSnapshotsFileName, SnapshotFile::EMode::Writing, errors);
}

bool CallGraphModel::DeleteStoredData(Serialization::ErrorList& errors)
{
    // The threads stay (queries may hold them) but no longer refer to any record.
    AbandonProcessing();
    {
        std::lock_guard lock(mThreadsMutex);
        for (auto& [id, thread] : mThreads)
            thread->SetTable({});
    }
    mLastInterval = -1;
    mWritingErrors.Clear();
    mSnapshots.Close();
    if (System::ClearDirectory(mDirectory, errors) != System::kRemoveSucceeded)
        return false;
    return System::ClearDirectory(mContext.SessionDirectory / kSourceFolderName, errors) ==
           System::kRemoveSucceeded;
}

bool CallGraphModel::Save(Serialization::ErrorList& errors)
{
    if (!WaitForWritingJob(errors))
        return false;
    // "Model.dat" points into "Snapshots.dat": after a crash it must never point at records that
    // never reached the disk, so the records go to the disk first.
    if (mSnapshots.GetMode() == SnapshotFile::EMode::Writing) {
        std::string error;
        if (!mSnapshots.Sync(error)) {
            errors.AddFormatted(Serialization::EErrorCode::WriteFailed,
                                "Unable to write to snapshot file: %s", error.c_str());
            return false;
        }
    }
    bool saved = WriteModelFile(errors);
    if (!mSnapshots.Close()) {
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Unable to write to snapshot file: %s",
                            System::Platform::GetLastErrorText().c_str());
        saved = false;
    }
    return mSnapshots.Open(mDirectory / kSnapshotsFileName, SnapshotFile::EMode::Reading, errors) && saved;
}

bool CallGraphModel::SnapshotTick(double time, Serialization::ErrorList& errors)
{
    const int interval = GetSnapshotInterval(time);
    if (mLastInterval == -1 || mLastInterval == interval) {
        mLastInterval = interval;
        return true;
    }
    if (!WaitForWritingJob(errors) || !StorePendingSnapshots(time, errors))
        return false;

    auto batch = std::make_shared<ThreadsToWrite>();
    for (const auto& state : mStates) {
        if (!state->mDirty)
            continue;
        const int count = state->mSnapshotCount++;
        ThreadToWrite entry{state.get(), count == 0, state->mCurrentDelta, {}};
        state->mProcessor->Serialize(entry.processorState);
        batch->push_back(std::move(entry));
        if (state->mDeltas[1] == nullptr)
            state->mDeltas[1] = std::make_unique<CallGraph>();
        state->mCurrentDelta = 1 - state->mCurrentDelta;
        state->mRouter->SetTarget(*state->mDeltas[state->mCurrentDelta]);
        state->mDirty = false;
    }
    if (!batch->empty()) {
        System::JobDescription description;
        description.work = [this, batch, time](System::Job&, const std::atomic<bool>&) {
            WriteBatch(*batch, time);
        };
        mWritingJob = mContext.Scheduler != nullptr ? mContext.Scheduler->Schedule(std::move(description))
                                                    : System::JobHandle{};
        // A scheduler that refuses work (it is shutting down) must not lose the batch.
        if (!mWritingJob.IsValid())
            WriteBatch(*batch, time);
    }
    mLastInterval = interval;
    return true;
}

bool CallGraphModel::WaitForWritingJob(Serialization::ErrorList& errors)
{
    if (mWritingJob.IsValid()) {
        mContext.Scheduler->Wait(mWritingJob);
        mWritingJob = {};
    }
    if (mWritingErrors.IsEmpty())
        return true;
    for (const Serialization::ErrorRecord& record : mWritingErrors.GetErrors())
        errors.Add(record.code, record.message);
    return false;
}

// Full or Delta, by cost. A thread's graph at time t is rebuilt from its last Full snapshot F at
// or before t and the Deltas D1..Dk after it. A Delta is written while F plus the Deltas after it,
// this one included, stay within twice F's bytes (each record also charged kRecordOverheadBytes);
// the snapshot that would go beyond is written Full instead. Bounds, in record bytes, with G(t)
// the graph at t:
// - rebuilding any time reads F + sum(Di) <= 2 F + one Delta, and F <= G(t) and every Delta holds
//   only nodes of G(t), so at most about 3 G(t);
// - each Full but the last is followed by Deltas adding up to more than itself, so the Fulls
//   add up to at most the Deltas plus the final graph: the file is at most twice the Deltas (what
//   changed, tick by tick) plus twice the final graph (its last Full and the final snapshot).
// The former rule (every tenth snapshot Full) rewrote the whole graph every 50 s, which grows with
// the square of the capture length when new call paths keep appearing.
void CallGraphModel::WriteBatch(const ThreadsToWrite& batch, double time)
{
    for (const ThreadToWrite& entry : batch) {
        CallGraphThreadProcessingState& state = *entry.state;
        CallGraph& delta = *state.mDeltas[entry.deltaIndex];
        CallGraphThreadGraph& cumulative = state.GetCumulative();
        cumulative.MergeFrom(delta.GetRoot());
        if (state.mThread->HasSnapshotAt(time)) {
            delta.Clear();
            continue;
        }
        bool isFull = entry.isFirst;
        if (!isFull) {
            SerializeRecord(entry.processorState, delta);
            const uint64_t bytes = mWriteBuffer.size() + kRecordOverheadBytes;
            isFull = state.mDeltaBytesSinceFull + bytes > state.mLastFullBytes;
            if (!isFull) {
                if (!StoreRecord(*state.mThread, ESnapshotType::Delta, time, mWritingErrors))
                    return;
                state.mDeltaBytesSinceFull += bytes;
            }
        }
        if (isFull) {
            SerializeRecord(entry.processorState, cumulative);
            state.mLastFullBytes = mWriteBuffer.size() + kRecordOverheadBytes;
            state.mDeltaBytesSinceFull = 0;
            if (!StoreRecord(*state.mThread, ESnapshotType::Full, time, mWritingErrors))
                return;
        }
        delta.Clear();
    }
}

void CallGraphModel::SerializeRecord(std::span<const uint8_t> processorState, const CallGraph& graph)
{
    mWriteBuffer.assign(processorState.begin(), processorState.end());
    RecordWriter writer(mWriteBuffer);
    graph.GetRoot().Serialize(writer);
}

void CallGraphModel::SerializeRecord(std::span<const uint8_t> processorState,
                                     const CallGraphThreadGraph& graph)
{
    // Room for the whole record at once: growing the buffer by doubling would hold the old copy
    // beside the new one, each as large as the graph's biggest record so far.
    mWriteBuffer.clear();
    mWriteBuffer.reserve(processorState.size() + graph.GetRecordBytesBound());
    mWriteBuffer.assign(processorState.begin(), processorState.end());
    RecordWriter writer(mWriteBuffer);
    graph.Serialize(writer);
}

bool CallGraphModel::StoreRecord(CallGraphThread& thread, ESnapshotType type, double time,
                                 Serialization::ErrorList& errors, bool beforeLast)
{
    if (mCompressor == nullptr)
        mCompressor = std::make_unique<EventChunkCompressor>();
    std::string error;
    uint64_t offset = 0;
    if (!mCompressor->Compress(mWriteBuffer.data(), mWriteBuffer.size(), error) ||
        !mSnapshots.Append(mCompressor->GetFrame(), mCompressor->GetFrameSize(), offset, error)) {
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Unable to write to snapshot file: %s",
                            error.c_str());
        return false;
    }
    if (beforeLast)
        thread.InsertSnapshotBeforeLast({time, offset, mCompressor->GetFrameSize(), type});
    else
        thread.AppendSnapshot({time, offset, mCompressor->GetFrameSize(), type});
    return true;
}

CallGraphThreadProcessingState* CallGraphModel::FindState(ThreadID thread)
{
    const auto found = mStateIndex.find(thread);
    return found != mStateIndex.end() ? mStates[found->second].get() : nullptr;
}

std::vector<ThreadID> CallGraphModel::GetThreadIds() const
{
    std::lock_guard lock(mThreadsMutex);
    std::vector<ThreadID> threads;
    for (const auto& [id, thread] : mThreads)
        threads.push_back(id);
    return threads;
}

const CallGraphThread* CallGraphModel::FindThread(ThreadID thread) const
{
    std::lock_guard lock(mThreadsMutex);
    auto found = mThreads.find(thread);
    return found != mThreads.end() ? found->second.get() : nullptr;
}

void CallGraphModel::AddThread(ThreadID thread, SnapshotTable table)
{
    std::lock_guard lock(mThreadsMutex);
    std::unique_ptr<CallGraphThread>& slot = mThreads[thread];
    if (slot == nullptr)
        slot = std::make_unique<CallGraphThread>(thread);
    slot->SetTable(std::move(table));
}

bool CallGraphModel::CountWholeCaptureSamples(uint64_t& samples, Serialization::ErrorList& errors) const
{
    samples = 0;
    std::vector<SnapshotTable::SnapshotDescription> records;
    {
        std::lock_guard lock(mThreadsMutex);
        for (const auto& [id, thread] : mThreads)
            if (auto last = thread->GetLastSnapshot())
                records.push_back(*last);
    }
    SnapshotFile::ReadBuffer buffer;
    for (const SnapshotTable::SnapshotDescription& record : records) {
        std::string error;
        if (!mSnapshots.ReadRecord(record.mOffset, record.mSize, buffer, error)) {
            errors.Add(Serialization::EErrorCode::Corrupt, error);
            return false;
        }
        RecordReader reader({buffer.GetData(), buffer.GetSize()});
        if (!OpenBarProcessor::SkipSerialized(reader, errors))
            return false;
        // Every node record but the root is counted by its parent's child count.
        for (uint64_t nodesLeft = 1; nodesLeft > 0; --nodesLeft) {
            uint8_t mask = 0;
            uint64_t sampleCount = 0;
            uint64_t childCount = 0;
            if (reader.Take(8 + 4 + 8) == nullptr || !reader.Read(mask) ||
                reader.Take(8 * std::popcount(mask)) == nullptr || !reader.Read(sampleCount) ||
                sampleCount > reader.GetRemaining() / 12) {
                errors.Add(Serialization::EErrorCode::Corrupt,
                           "Call graph record is corrupt: truncated node");
                return false;
            }
            const uint8_t* sample = reader.Take(sampleCount * 12);
            for (uint64_t i = 0; i < sampleCount; ++i, sample += 12)
                samples += RecordReader::LoadLittleEndian<uint32_t>(sample + 8);
            if (!reader.Read(childCount) || childCount > reader.GetRemaining() / kMinimumNodeRecordBytes) {
                errors.Add(Serialization::EErrorCode::Corrupt,
                           "Call graph record is corrupt: truncated node");
                return false;
            }
            nodesLeft += childCount;
        }
    }
    return true;
}

std::shared_ptr<ResolvedStackCache> CallGraphModel::CheckOutStackCache(ThreadID thread) const
{
    std::lock_guard lock(mThreadsMutex);
    auto& caches = mStackCaches[thread];
    if (caches.empty())
        return std::make_shared<ResolvedStackCache>();
    std::shared_ptr<ResolvedStackCache> cache = std::move(caches.back());
    caches.pop_back();
    return cache;
}

void CallGraphModel::ReturnStackCache(ThreadID thread, std::shared_ptr<ResolvedStackCache> cache) const
{
    std::lock_guard lock(mThreadsMutex);
    auto& caches = mStackCaches[thread];
    // Two are enough for a view and its neighbour; more would only hold memory.
    if (caches.size() < 2)
        caches.push_back(std::move(cache));
}

} // namespace Profiler
