#include "CaptureModel/EventChunkReader.h"

#include "CaptureModel/EventChunkRowDecoder.h"
#include "CaptureModel/TraceEventStream.h"
#include "Utility/ErrorList.h"

#include <limits>

namespace Profiler {

using Serialization::EErrorCode;

bool EventChunkReader::LoadChunk(const TraceEventStream& stream, uint32_t chunkIndex,
                                 Serialization::ErrorList& errors)
{
    Unload();
    const auto& chunks = stream.GetChunks();
    const std::string path = stream.GetDataPath().string();
    if (chunkIndex >= chunks.size()) {
        errors.AddFormatted(EErrorCode::Corrupt, "The event stream %s has no chunk %u", path.c_str(),
                            chunkIndex);
        return false;
    }
    const TraceEventStream::Chunk& chunk = chunks[chunkIndex];
    const EventChunkFile& file = stream.GetDataFile();
    if (!file.IsOpen()) {
        errors.AddFormatted(EErrorCode::FileAccess, "The event stream %s is not open", path.c_str());
        return false;
    }
    if (chunk.mFileOffset > file.GetSize() || file.GetSize() - chunk.mFileOffset < chunk.mSize) {
        errors.AddFormatted(EErrorCode::Corrupt,
                            "Event chunk %u (%llu bytes at offset %llu) lies beyond the end of %s",
                            chunkIndex, static_cast<unsigned long long>(chunk.mSize),
                            static_cast<unsigned long long>(chunk.mFileOffset), path.c_str());
        return false;
    }
    // The size is bounded by the file size now, so the buffer cannot grow without bound.
    if (mStored.size() < chunk.mSize)
        mStored.resize(static_cast<std::size_t>(chunk.mSize));
    std::string error;
    if (!file.ReadAt(chunk.mFileOffset, mStored.data(), static_cast<std::size_t>(chunk.mSize), error)) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to read event chunk %u from %s. Error: %s",
                            chunkIndex, path.c_str(), error.c_str());
        return false;
    }
    const bool loaded = stream.GetEventDataVersion() == 1
                            ? LoadRowChunk(chunk.mSize, error)
                            : LoadColumnChunk(chunk.mSize, chunk.mNumEvents, error);
    if (!loaded) {
        mView.Reset();
        errors.AddFormatted(EErrorCode::Corrupt, "Event chunk %u of %s is damaged: %s", chunkIndex,
                            path.c_str(), error.c_str());
        return false;
    }
    mChunkIndex = chunkIndex;
    return true;
}

bool EventChunkReader::LoadColumnChunk(uint64_t storedSize, uint64_t numEvents, std::string& error)
{
    // Payload offsets are u32, so a sound chunk holds at most 4 GiB of payloads besides its columns.
    uint64_t maxContentSize = std::numeric_limits<uint64_t>::max();
    if (numEvents < (maxContentSize - 0x100000000ull) / EventChunkView::kColumnBytesPerEvent)
        maxContentSize =
            EventChunkView::kHeaderSize + 0xFFFFFFFFull + numEvents * EventChunkView::kColumnBytesPerEvent;
    return mDecompressor.Decompress(mStored.data(), static_cast<std::size_t>(storedSize), maxContentSize,
                                    error) &&
           mView.Attach(mDecompressor.GetData(), mDecompressor.GetSize(), numEvents, error);
}

bool EventChunkReader::LoadRowChunk(uint64_t storedSize, std::string& error)
{
    mRowConverter.Clear();
    EventChunkRowDecoder decoder(mStored.data(), static_cast<std::size_t>(storedSize));
    TraceEvent event;
    while (decoder.Next(event))
        mRowConverter.Add(event);
    if (decoder.HasFailed()) {
        error = decoder.GetError();
        return false;
    }
    mRowConverter.LayOut(mConverted);
    return mView.Attach(mConverted.data(), mConverted.size(), mRowConverter.GetEventCount(), error);
}

void EventChunkReader::Unload()
{
    mChunkIndex = kNoChunk;
    mCursor = 0;
    mView.Reset();
}

bool EventChunkReader::Next(TraceEvent& event)
{
    if (mCursor >= mView.GetEventCount()) {
        event = TraceEvent::EndOfEvents();
        return true;
    }
    return mView.DecodeEvent(mCursor++, event);
}

} // namespace Profiler
