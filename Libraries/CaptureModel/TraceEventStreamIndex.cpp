#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamCompatibilityHandler.h"
#include "RTTI/ObjectFactory.h"
#include "Serialization/Binary.h"
#include "Utility/ErrorList.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::TraceEventStream, 3)
{
    type.Property("NumEvents", &TraceEventStream::mNumEvents)
        .Property("Chunks", &TraceEventStream::mChunks)
        .Property("EventDataVersion", &TraceEventStream::mEventDataVersion);
}

QX_RTTI_DEFINE_CLASS(Profiler::TraceEventStream::Chunk, 1)
{
    type.Property("StartTime", &Chunk::mStartTime)
        .Property("EndTime", &Chunk::mEndTime)
        .Property("FileOffset", &Chunk::mFileOffset)
        .Property("Size", &Chunk::mSize)
        .Property("NumEvents", &Chunk::mNumEvents)
        .Property("Processes", &Chunk::mProcesses)
        .Property("Threads", &Chunk::mThreads);
}

std::unique_ptr<TraceEventStream> TraceEventStream::Open(const std::filesystem::path& directory,
                                                         const RTTI::Registry& registry,
                                                         Serialization::ErrorList& errors)
{
    auto stream = std::make_unique<TraceEventStream>();
    if (!stream->OpenDataFile(directory, errors))
        return nullptr;

    TraceEventStreamCompatibilityHandler handler;
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<TraceEventStream>(handler);
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    if (!Serialization::ReadBinaryFile(directory / kIndexFileName, registry, RTTI::GetDefaultObjectFactory(),
                                       handlers, Serialization::EReadMode::Strict, objects, errors))
        return nullptr;
    for (auto& object : objects) {
        if (!RTTI::IsA<TraceEventStream>(object->GetType()))
            continue;
        auto* index = static_cast<TraceEventStream*>(object.get());
        stream->SetIndex(index->mNumEvents, std::move(index->mChunks), index->mEventDataVersion);
        return stream;
    }
    errors.Add(Serialization::EErrorCode::Corrupt,
               "The file does not appear to be a TraceEventStream file (missing TraceEventStream object)");
    return nullptr;
}

bool TraceEventStream::SaveIndex(const std::filesystem::path& path, Serialization::ErrorList& errors) const
{
    return Serialization::WriteBinaryFile(path, {this}, errors);
}

bool TraceEventStream::SaveIndex(Serialization::ErrorList& errors) const
{
    if (mDirectory.empty()) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The event stream has not been opened in a directory");
        return false;
    }
    return SaveIndex(mDirectory / kIndexFileName, errors);
}

} // namespace Profiler
