#include "CaptureModel/BrokenStackReader.h"

#include "System/Platform/MappedFile.h"
#include "Utility/Format.h"

#include <algorithm>
#include <cstring>

namespace Profiler {

using Serialization::EErrorCode;

BrokenStackReader::BrokenStackReader() = default;

BrokenStackReader::~BrokenStackReader() = default;

bool BrokenStackReader::Open(const std::filesystem::path& directory, const RTTI::Registry& registry,
                             Serialization::ErrorList& errors)
{
    std::unique_ptr<BrokenStackIndex> index =
        BrokenStackIndex::Load(directory / BrokenStackIndex::kIndexFileName, registry, errors);
    return index && Open(directory, std::move(*index), errors);
}

bool BrokenStackReader::Open(const std::filesystem::path& directory, BrokenStackIndex index,
                             Serialization::ErrorList& errors)
{
    mDataPath = directory / BrokenStackIndex::kDataFileName;
    std::string errorText;
    if (!mFile.OpenForReading(mDataPath, errorText)) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to open broken stack stream %s. Error: %s",
                            mDataPath.string().c_str(), errorText.c_str());
        return false;
    }
    mIndex = std::move(index);
    mMapDecided.store(false, std::memory_order_relaxed);
    mMapping.reset();
    return true;
}

const System::Platform::MappedFile* BrokenStackReader::GetMapping() const
{
    // Processing opens a cursor for each of many threads, and each reads a small chunk, in no
    // order the file follows: a mapping saves a system call per chunk, and unlike a copy of the
    // whole file it costs a query of a few seconds only the chunks it reads. It is made at the
    // first chunk rather than at opening, which many uses never reach.
    if (!mMapDecided.load(std::memory_order_acquire)) {
        std::lock_guard lock(mMapMutex);
        if (!mMapDecided.load(std::memory_order_relaxed)) {
            auto mapping = std::make_unique<System::Platform::MappedFile>();
            std::string error;
            // On failure the chunks are read one by one, and their reads say what is wrong.
            if (mapping->Open(mDataPath, error) && mapping->GetSize() == mFile.GetSize())
                mMapping = std::move(mapping);
            mMapDecided.store(true, std::memory_order_release);
        }
    }
    return mMapping.get();
}

bool BrokenStackReader::ReadChunk(const BrokenStackIndex::Chunk& chunk, std::vector<uint8_t>& stored,
                                  EventChunkDecompressor& decompressor,
                                  std::vector<BrokenStackRecord>& records, std::string& error) const
{
    records.clear();
    if (chunk.mFileOffset > mFile.GetSize() || mFile.GetSize() - chunk.mFileOffset < chunk.mSize) {
        error = "the chunk lies beyond the end of the file";
        return false;
    }
    if (const System::Platform::MappedFile* mapping = GetMapping())
        return DecodeChunk(mapping->GetData() + chunk.mFileOffset, static_cast<std::size_t>(chunk.mSize),
                           decompressor, records, error);
    stored.resize(static_cast<std::size_t>(chunk.mSize));
    return mFile.ReadAt(chunk.mFileOffset, stored.data(), stored.size(), error) &&
           DecodeChunk(stored.data(), stored.size(), decompressor, records, error);
}

bool BrokenStackReader::DecodeChunk(const uint8_t* stored, std::size_t storedSize,
                                    EventChunkDecompressor& decompressor,
                                    std::vector<BrokenStackRecord>& records, std::string& error)
{
    records.clear();
    // Writers never put more than one chunk's worth of records in a frame.
    constexpr uint64_t kMaxContent =
        sizeof(uint64_t) + BrokenStackIndex::kRecordsPerChunk * sizeof(BrokenStackRecord);
    if (!decompressor.Decompress(stored, storedSize, kMaxContent, error))
        return false;
    const std::size_t size = decompressor.GetSize();
    uint64_t count = 0;
    if (size >= sizeof(count))
        std::memcpy(&count, decompressor.GetData(), sizeof(count));
    if (size < sizeof(count) || count > BrokenStackIndex::kRecordsPerChunk ||
        size != sizeof(count) + count * sizeof(BrokenStackRecord)) {
        error = Utility::Format("the chunk's %zu bytes do not hold its record count", size);
        return false;
    }
    records.resize(static_cast<std::size_t>(count));
    std::memcpy(records.data(), decompressor.GetData() + sizeof(count), count * sizeof(BrokenStackRecord));
    return true;
}

BrokenStackCursor::BrokenStackCursor(const BrokenStackReader& reader, ThreadID thread)
    : mReader(reader), mChunks(reader.GetIndex().FindChunks(static_cast<int32_t>(thread)))
{}

bool BrokenStackCursor::LoadChunk(uint32_t chunkIndex)
{
    if (mLoadedChunk == chunkIndex)
        return true;
    mLoadedChunk = ~0u;
    std::string error;
    if (!mReader.ReadChunk((*mChunks)[chunkIndex], mStored, mDecompressor, mRecords, error)) {
        mErrors.AddFormatted(EErrorCode::Corrupt, "Unable to read broken stack chunk %u of %s. Error: %s",
                             chunkIndex, mReader.GetDataPath().string().c_str(), error.c_str());
        return false;
    }
    mLoadedChunk = chunkIndex;
    return true;
}

const BrokenStackRecord* BrokenStackCursor::Find(double time)
{
    if (!mChunks || mChunks->empty() || HasFailed())
        return nullptr;
    const auto& chunks = *mChunks;
    auto endsAfter = [time](const auto& item) { return !(item.mEndTime <= time); };
    // The chunk holding `time` is the first that ends after it; try the current one first.
    uint32_t chunkIndex = mPosition.chunkIndex;
    const bool hintHolds = chunkIndex < chunks.size() && endsAfter(chunks[chunkIndex]) &&
                           (chunkIndex == 0 || !endsAfter(chunks[chunkIndex - 1]));
    if (!hintHolds) {
        chunkIndex =
            static_cast<uint32_t>(std::partition_point(chunks.begin(), chunks.end(),
                                                       [time](const auto& c) { return c.mEndTime <= time; }) -
                                  chunks.begin());
        mPosition = {chunkIndex, 0};
    }
    if (chunkIndex >= chunks.size() || time < chunks[chunkIndex].mStartTime)
        return nullptr;
    if (!LoadChunk(chunkIndex))
        return nullptr;

    uint32_t recordIndex = mPosition.recordIndex;
    const bool recordHintHolds = recordIndex < mRecords.size() && time < mRecords[recordIndex].endTime &&
                                 (recordIndex == 0 || mRecords[recordIndex - 1].endTime <= time);
    if (!recordHintHolds) {
        recordIndex = static_cast<uint32_t>(
            std::partition_point(mRecords.begin(), mRecords.end(),
                                 [time](const BrokenStackRecord& r) { return r.endTime <= time; }) -
            mRecords.begin());
    }
    mPosition = {chunkIndex, recordIndex};
    if (recordIndex >= mRecords.size() || time < mRecords[recordIndex].startTime)
        return nullptr;
    return &mRecords[recordIndex];
}

} // namespace Profiler
