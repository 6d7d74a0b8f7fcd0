#include "CaptureModel/TraceEventStreamWriter.h"

#include "CaptureModel/TraceEventPayload.h"
#include "CaptureModel/TraceEventStream.h"
#include "Utility/Assert.h"
#include "Utility/ErrorList.h"

namespace Profiler {

using Serialization::EErrorCode;

TraceEventStreamWriter::TraceEventStreamWriter() : mStream(std::make_unique<TraceEventStream>()) {}

TraceEventStreamWriter::~TraceEventStreamWriter() = default;

bool TraceEventStreamWriter::Open(const std::filesystem::path& directory, Serialization::ErrorList& errors)
{
    return Open(directory / TraceEventStream::kDataFileName, directory / TraceEventStream::kIndexFileName,
                errors);
}

bool TraceEventStreamWriter::Open(const std::filesystem::path& dataPath,
                                  const std::filesystem::path& indexPath, Serialization::ErrorList& errors)
{
    std::string errorText;
    if (!mFile.Create(dataPath, errorText)) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Failed to open %s for writing",
                            dataPath.string().c_str());
        return false;
    }
    mDataPath = dataPath;
    mIndexPath = indexPath;
    mStream->SetIndex(0, {}, TraceEventStream::kCurrentEventDataVersion);
    mChunk.Clear();
    return true;
}

void TraceEventStreamWriter::AddStackWithoutTime(double time, ProcessID process, ThreadID thread,
                                                 uint64_t stackId, uint32_t value0, uint32_t value1)
{
    TraceEvent event;
    event.kind = ETraceEventKind::StackWithoutTime;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.stackId = stackId;
    event.data32[0] = value0;
    event.data32[1] = value1;
    Add(event);
}

void TraceEventStreamWriter::AddThreadStatus(double time, ProcessID process, ThreadID thread, uint8_t status)
{
    TraceEvent event;
    event.kind = ETraceEventKind::ThreadStatus;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.data8 = status;
    Add(event);
}

void TraceEventStreamWriter::AddZoneBegin(double time, ProcessID process, ThreadID thread, uint64_t stackId,
                                          std::string_view name, std::string_view detail)
{
    TraceEvent event;
    event.kind = ETraceEventKind::ZoneBegin;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.stackId = stackId;
    event.text[0] = name;
    event.text[1] = detail;
    Add(event);
}

void TraceEventStreamWriter::AddZoneBeginWithColour(double time, ProcessID process, ThreadID thread,
                                                    uint64_t stackId, std::string_view name,
                                                    std::string_view detail, uint32_t colour)
{
    TraceEvent event;
    event.kind = ETraceEventKind::ZoneBeginWithColour;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.stackId = stackId;
    event.text[0] = name;
    event.text[1] = detail;
    event.data32[0] = colour;
    Add(event);
}

void TraceEventStreamWriter::AddZoneEnd(double time, ProcessID process, ThreadID thread)
{
    TraceEvent event;
    event.kind = ETraceEventKind::ZoneEnd;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    Add(event);
}

void TraceEventStreamWriter::AddInstrumentationContextOut(double time, ProcessID process, ThreadID thread,
                                                          uint64_t contextId, uint64_t value)
{
    TraceEvent event;
    event.kind = ETraceEventKind::InstrumentationContextOut;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.data64[0] = contextId;
    event.data64[1] = value;
    Add(event);
}

void TraceEventStreamWriter::AddInstrumentationContextIn(double time, ProcessID process, ThreadID thread,
                                                         uint64_t contextId)
{
    TraceEvent event;
    event.kind = ETraceEventKind::InstrumentationContextIn;
    event.time = time;
    event.processId = process;
    event.threadId = thread;
    event.data64[0] = contextId;
    Add(event);
}

bool TraceEventStreamWriter::Add(const TraceEvent& event)
{
    if (event.kind >= ETraceEventKind::EndMarker)
        return false;
    const std::size_t payloadSize = GetTraceEventPayloadSize(event);
    if (!QX_ASSERT(payloadSize <= EventChunkBuilder::kMaxPayloadBytes - mChunk.GetPayloadBytes(),
                   "An event payload of %zu bytes does not fit in the chunk", payloadSize))
        return false;
    mChunk.Add(event);
    return true;
}

bool TraceEventStreamWriter::FlushChunk(Serialization::ErrorList& errors)
{
    if (mChunk.IsEmpty())
        return true;
    TraceEventStream::Chunk entry;
    entry.mStartTime = mChunk.GetStartTime();
    entry.mEndTime = mChunk.GetEndTime();
    entry.mNumEvents = mChunk.GetEventCount();
    entry.mProcesses = mChunk.GetProcessIds();
    entry.mThreads = mChunk.GetThreadIds();
    mChunk.LayOut(mLayout);
    mChunk.Clear();

    std::string errorText;
    if (!mFile.IsOpen()) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Unable to open event stream %s. Error: %s",
                            mDataPath.string().c_str(), "the stream is not open");
        return false;
    }
    if (!mCompressor.Compress(mLayout.data(), mLayout.size(), errorText)) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Unable to open event stream %s. Error: %s",
                            mDataPath.string().c_str(), errorText.c_str());
        return false;
    }
    entry.mFileOffset = mFile.GetSize();
    if (!mFile.Append(mCompressor.GetFrame(), mCompressor.GetFrameSize(), errorText)) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Unable to open event stream %s. Error: %s",
                            mDataPath.string().c_str(), errorText.c_str());
        return false;
    }
    entry.mSize = mCompressor.GetFrameSize();
    mStream->AddChunk(std::move(entry));
    return true;
}

bool TraceEventStreamWriter::Close(Serialization::ErrorList& errors)
{
    const bool flushed = FlushChunk(errors);
    mFile.Close();
    return flushed && mStream->SaveIndex(mIndexPath, errors);
}

std::unique_ptr<TraceEventStream> TraceEventStreamWriter::TakeStream()
{
    return std::move(mStream);
}

} // namespace Profiler
