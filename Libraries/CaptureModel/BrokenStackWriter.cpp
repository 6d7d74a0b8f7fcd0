#include "CaptureModel/BrokenStackWriter.h"

#include <cstring>
#include <limits>

namespace Profiler {

using Serialization::EErrorCode;

bool BrokenStackWriter::Open(const std::filesystem::path& directory, Serialization::ErrorList& errors)
{
    const std::filesystem::path path = directory / BrokenStackIndex::kDataFileName;
    std::string errorText;
    if (!mFile.OpenForAppending(path, errorText)) {
        errors.AddFormatted(EErrorCode::WriteFailed,
                            "Unable to initialize broken stack processing state%s. Error: %s",
                            path.string().c_str(), errorText.c_str());
        return false;
    }
    mDirectory = directory;
    return true;
}

void BrokenStackWriter::BeginRange(ThreadID thread, double time)
{
    ThreadState& state = mThreads[static_cast<int32_t>(thread)];
    if (state.openStart == -1.0)
        state.openStart = time;
}

void BrokenStackWriter::EndRange(ThreadID thread, double time, uint64_t stackId)
{
    const auto found = mThreads.find(static_cast<int32_t>(thread));
    if (found == mThreads.end() || found->second.openStart == -1.0)
        return;
    CloseRange(found->first, found->second, time, stackId);
}

void BrokenStackWriter::CloseRange(int32_t thread, ThreadState& state, double time, uint64_t stackId)
{
    state.pending.push_back({state.openStart, time, stackId});
    state.openStart = -1.0;
    if (state.pending.size() >= BrokenStackIndex::kRecordsPerChunk)
        WriteChunk(thread, state);
}

bool BrokenStackWriter::WriteChunk(int32_t thread, ThreadState& state)
{
    if (state.pending.empty())
        return true;
    const uint64_t count = state.pending.size();
    mChunkBytes.resize(sizeof(count) + count * sizeof(BrokenStackRecord));
    std::memcpy(mChunkBytes.data(), &count, sizeof(count));
    std::memcpy(mChunkBytes.data() + sizeof(count), state.pending.data(), count * sizeof(BrokenStackRecord));

    BrokenStackIndex::Chunk chunk;
    chunk.mStartTime = state.pending.front().startTime;
    chunk.mEndTime = state.pending.back().endTime;
    state.pending.clear();

    std::string errorText;
    bool written = mFile.IsOpen();
    if (!written)
        errorText = "the stream is not open";
    if (written) {
        chunk.mFileOffset = mFile.GetSize();
        written = mCompressor.Compress(mChunkBytes.data(), mChunkBytes.size(), errorText) &&
                  mFile.Append(mCompressor.GetFrame(), mCompressor.GetFrameSize(), errorText);
    }
    if (!written) {
        if (mWriteErrors.IsEmpty())
            mWriteErrors.AddFormatted(EErrorCode::WriteFailed,
                                      "Failed to write broken stack stream. Error: %s", errorText.c_str());
        return false;
    }
    chunk.mSize = mCompressor.GetFrameSize();
    mIndex.GetChunksByThread()[thread].push_back(chunk);
    return true;
}

bool BrokenStackWriter::Finish(Serialization::ErrorList& errors)
{
    for (auto& [thread, state] : mThreads) {
        if (state.openStart != -1.0)
            CloseRange(thread, state, std::numeric_limits<double>::max(), ~0ull);
        WriteChunk(thread, state);
    }
    if (!mWriteErrors.IsEmpty()) {
        const Serialization::ErrorRecord& first = mWriteErrors.GetErrors().front();
        errors.Add(first.code, first.message);
        return false;
    }
    mFile.Close();
    return mIndex.Save(mDirectory / BrokenStackIndex::kIndexFileName, errors);
}

} // namespace Profiler
