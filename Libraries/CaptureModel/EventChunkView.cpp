#include "CaptureModel/EventChunkView.h"

#include "CaptureModel/TraceEventPayload.h"
#include "Utility/Format.h"

namespace Profiler {

namespace {

const char* const kColumnNames[6] = {"payload area", "kinds",      "times",
                                     "process IDs",  "thread IDs", "payload offsets"};
constexpr std::size_t kColumnWidths[6] = {0, 1, 8, 4, 4, 4};

} // namespace

bool EventChunkView::Attach(const uint8_t* data, std::size_t size, uint64_t eventCount, std::string& error)
{
    Reset();
    if (size < kHeaderSize) {
        error = Utility::Format("The event chunk is corrupt: %zu bytes cannot hold its header", size);
        return false;
    }
    if (eventCount > (size - kHeaderSize) / kColumnBytesPerEvent) {
        error = Utility::Format("The event chunk is corrupt: %llu events cannot fit in %zu bytes",
                                static_cast<unsigned long long>(eventCount), size);
        return false;
    }
    const uint8_t* columns[6];
    for (int column = 0; column < 6; ++column) {
        uint64_t offset;
        std::memcpy(&offset, data + column * sizeof(uint64_t), sizeof(offset));
        // eventCount * width cannot overflow: it is below size, checked above.
        const uint64_t extent = eventCount * kColumnWidths[column];
        if (offset > size || size - offset < extent) {
            error =
                Utility::Format("The event chunk is corrupt: the %s (offset %llu) lie outside its %zu bytes",
                                kColumnNames[column], static_cast<unsigned long long>(offset), size);
            return false;
        }
        columns[column] = data + offset;
    }
    mData = data;
    mSize = size;
    mEventCount = eventCount;
    mKinds = columns[1];
    mTimes = columns[2];
    mProcessIds = columns[3];
    mThreadIds = columns[4];
    mPayloadOffsets = columns[5];
    return true;
}

void EventChunkView::Reset()
{
    *this = EventChunkView();
}

bool EventChunkView::DecodeEvent(uint64_t index, TraceEvent& event) const
{
    event = TraceEvent();
    const uint8_t kind = mKinds[index];
    if (kind >= kTraceEventKindCount)
        return true; // not an event: the default record is the end marker
    event.kind = static_cast<ETraceEventKind>(kind);
    event.time = GetTime(index);
    event.processId = GetProcessId(index);
    event.threadId = GetThreadId(index);
    const uint32_t offset = GetPayloadOffset(index);
    if (offset > mSize)
        return false;
    return DecodeTraceEventPayload(event.kind, mData + offset, mSize - offset, event) != kPayloadDecodeFailed;
}

uint64_t EventChunkView::LowerBound(double time) const
{
    uint64_t low = 0;
    uint64_t count = mEventCount;
    while (count > 0) {
        const uint64_t half = count / 2;
        if (GetTime(low + half) < time) {
            low += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return low;
}

} // namespace Profiler
