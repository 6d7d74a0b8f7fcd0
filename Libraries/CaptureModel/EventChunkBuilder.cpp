#include "CaptureModel/EventChunkBuilder.h"

#include "CaptureModel/EventChunkView.h"
#include "CaptureModel/TraceEventPayload.h"
#include "Utility/Assert.h"

namespace Profiler {

void EventChunkBuilder::Add(const TraceEvent& event)
{
    if (!QX_ASSERT(event.kind != ETraceEventKind::EndMarker, "The end marker is not an event"))
        return;
    AddColumns(event.kind, event.time, event.processId, event.threadId);
    EncodeTraceEventPayload(event, mPayload);
}

void EventChunkBuilder::AddColumns(ETraceEventKind kind, double time, ProcessID processIdentifier,
                                   ThreadID threadIdentifier)
{
    const auto processId = static_cast<uint32_t>(processIdentifier);
    const auto threadId = static_cast<uint32_t>(threadIdentifier);
    QX_ASSERT(mPayload.size() <= kMaxPayloadBytes,
              "The chunk's payloads exceed %llu bytes; flush chunks earlier",
              static_cast<unsigned long long>(kMaxPayloadBytes));
    if (mKinds.empty() || processId != mLastProcessId) {
        mProcessIds.insert(processId);
        mLastProcessId = processId;
    }
    if (mKinds.empty() || threadId != mLastThreadId) {
        mThreadIds.insert(threadId);
        mLastThreadId = threadId;
    }
    mKinds.push_back(static_cast<uint8_t>(kind));
    mTimes.push_back(time);
    mProcessColumn.push_back(processId);
    mThreadColumn.push_back(threadId);
    mPayloadOffsets.push_back(static_cast<uint32_t>(EventChunkView::kHeaderSize + mPayload.size()));
}

std::set<ThreadID> EventChunkBuilder::GetProcessIds() const
{
    std::set<ThreadID> ids;
    for (uint32_t id : mProcessIds)
        ids.insert(ThreadID{id});
    return ids;
}

std::set<ThreadID> EventChunkBuilder::GetThreadIds() const
{
    std::set<ThreadID> ids;
    for (uint32_t id : mThreadIds)
        ids.insert(ThreadID{id});
    return ids;
}

std::size_t EventChunkBuilder::GetLayoutSize() const
{
    return EventChunkView::kHeaderSize + mPayload.size() +
           mKinds.size() * EventChunkView::kColumnBytesPerEvent;
}

void EventChunkBuilder::LayOut(std::vector<uint8_t>& out) const
{
    out.resize(GetLayoutSize());
    uint8_t* const start = out.data();
    std::size_t position = EventChunkView::kHeaderSize;
    int column = 0;
    auto place = [&](const void* bytes, std::size_t size) {
        const uint64_t offset = position;
        std::memcpy(start + column * sizeof(uint64_t), &offset, sizeof(offset));
        if (size > 0)
            std::memcpy(start + position, bytes, size);
        position += size;
        ++column;
    };
    const std::size_t count = mKinds.size();
    place(mPayload.data(), mPayload.size());
    place(mKinds.data(), count);
    place(mTimes.data(), count * sizeof(double));
    place(mProcessColumn.data(), count * sizeof(uint32_t));
    place(mThreadColumn.data(), count * sizeof(uint32_t));
    place(mPayloadOffsets.data(), count * sizeof(uint32_t));
}

void EventChunkBuilder::Clear()
{
    mKinds.clear();
    mTimes.clear();
    mProcessColumn.clear();
    mThreadColumn.clear();
    mPayloadOffsets.clear();
    mPayload.clear();
    mProcessIds.clear();
    mThreadIds.clear();
}

} // namespace Profiler
