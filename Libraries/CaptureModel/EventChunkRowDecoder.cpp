#include "CaptureModel/EventChunkRowDecoder.h"

#include "CaptureModel/TraceEventPayload.h"
#include "Utility/Format.h"

#include <cstring>

namespace Profiler {

bool EventChunkRowDecoder::Next(TraceEvent& event)
{
    event = TraceEvent();
    if (!mError.empty() || mPosition >= mSize)
        return false;
    if (mSize - mPosition < kRowHeaderSize) {
        mError = Utility::Format("The event chunk is corrupt: %zu trailing bytes at offset %zu",
                                 mSize - mPosition, mPosition);
        return false;
    }
    const uint8_t* row = mData + mPosition;
    const uint8_t kind = row[0];
    if (kind >= kTraceEventKindCount) {
        mError = Utility::Format("The event chunk is corrupt: unknown event kind %u at offset %zu", kind,
                                 mPosition);
        return false;
    }
    TraceEvent decoded;
    decoded.kind = static_cast<ETraceEventKind>(kind);
    std::memcpy(&decoded.time, row + 1, 8);
    std::memcpy(&decoded.processId, row + 9, 4);
    std::memcpy(&decoded.threadId, row + 13, 4);
    const std::size_t payloadStart = mPosition + kRowHeaderSize;
    const std::size_t consumed =
        DecodeTraceEventPayload(decoded.kind, mData + payloadStart, mSize - payloadStart, decoded);
    if (consumed == kPayloadDecodeFailed) {
        mError = Utility::Format(
            "The event chunk is corrupt: the payload of the event at offset %zu is cut short", mPosition);
        return false;
    }
    mPosition = payloadStart + consumed;
    event = decoded;
    return true;
}

void EncodeEventRow(const TraceEvent& event, std::vector<uint8_t>& out)
{
    const std::size_t at = out.size();
    out.resize(at + EventChunkRowDecoder::kRowHeaderSize);
    uint8_t* row = out.data() + at;
    row[0] = static_cast<uint8_t>(event.kind);
    std::memcpy(row + 1, &event.time, 8);
    std::memcpy(row + 9, &event.processId, 4);
    std::memcpy(row + 13, &event.threadId, 4);
    EncodeTraceEventPayload(event, out);
}

} // namespace Profiler
