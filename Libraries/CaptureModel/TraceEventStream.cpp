#include "CaptureModel/TraceEventStream.h"

#include "Utility/ErrorList.h"

namespace Profiler {

using Serialization::EErrorCode;

TraceEventStream::TraceEventStream() = default;

TraceEventStream::~TraceEventStream() = default;

void TraceEventStream::SetIndex(uint64_t numEvents, std::vector<Chunk> chunks, uint32_t eventDataVersion)
{
    mNumEvents = numEvents;
    mChunks = std::move(chunks);
    mEventDataVersion = eventDataVersion;
}

void TraceEventStream::AddChunk(Chunk chunk)
{
    mNumEvents += chunk.mNumEvents;
    mChunks.push_back(std::move(chunk));
}

bool TraceEventStream::OpenDataFile(const std::filesystem::path& directory, Serialization::ErrorList& errors)
{
    const std::filesystem::path dataPath = directory / kDataFileName;
    std::error_code error;
    if (!std::filesystem::exists(dataPath, error)) {
        errors.AddFormatted(EErrorCode::FileNotFound,
                            "Unable to open events data file %s, the file does not exist",
                            dataPath.string().c_str());
        return false;
    }
    std::string errorText;
    if (!mDataFile.OpenForReading(dataPath, errorText)) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to open events data file %s. Error: %s",
                            dataPath.string().c_str(), errorText.c_str());
        return false;
    }
    mDirectory = directory;
    return true;
}

} // namespace Profiler
