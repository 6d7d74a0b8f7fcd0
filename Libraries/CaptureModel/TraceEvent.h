#pragma once

#include "CaptureModel/Identifiers.h"

#include <cstdint>
#include <string_view>

namespace Profiler {

/// The kinds of events in a trace event stream. The numbers are stored in the stream.
enum class ETraceEventKind : uint8_t {
    Sample = 0,                     ///< stack ID
    ContextSwitchOut = 1,           ///< wait reason
    ContextSwitchIn = 2,            ///< stack ID
    StackWithoutTime = 3,           ///< stack ID, two u32
    Kind4 = 4,                      ///< u8, u64
    ThreadStatus = 5,               ///< status byte
    Kind6 = 6,                      ///< string
    ZoneBegin = 7,                  ///< stack ID, two strings
    ZoneEnd = 8,                    ///< no payload
    ZoneBeginWithColour = 9,        ///< stack ID, two strings, u32 colour
    Kind10 = 10,                    ///< u64, two u32, u64
    Kind11 = 11,                    ///< u32, u8, u64
    ThreadStatusWithValue = 12,     ///< u32, status byte
    Kind13 = 13,                    ///< u64
    Kind14 = 14,                    ///< u64
    InstrumentationContextOut = 15, ///< u64 context ID, u64
    InstrumentationContextIn = 16,  ///< u64 context ID
    StackOnly = 17,                 ///< stack ID, applied like kind 3
    EndMarker = 18,                 ///< not an event: what decoding yields past the end or for unknown kinds
};

inline constexpr uint8_t kTraceEventKindCount = 18;
/// The stack ID of events that carry no stack.
inline constexpr uint64_t kNoStackId = ~0ull;

/// Whether the kind is one of the instrumentation zone kinds that readers may leave out.
constexpr bool IsZoneEvent(ETraceEventKind kind)
{
    return kind == ETraceEventKind::ZoneBegin || kind == ETraceEventKind::ZoneEnd ||
           kind == ETraceEventKind::ZoneBeginWithColour;
}

/// One decoded event. Payload fields are filled by kind (see ETraceEventKind); the 8-byte
/// fields that are stack IDs land in `stackId`, the others in `data64` in stored order, u32
/// fields in `data32`, the one byte field (wait reason, status) in `data8`. Strings point into
/// the chunk buffer of the reader that decoded the event and stay valid until it loads another
/// chunk, so decoding never allocates.
struct TraceEvent {
    double time = -1.0;
    uint64_t stackId = kNoStackId;
    uint64_t data64[2] = {0, 0};
    ProcessID processId{};
    ThreadID threadId{};
    uint32_t data32[2] = {0, 0};
    ETraceEventKind kind = ETraceEventKind::EndMarker;
    uint8_t data8 = 0;
    std::string_view text[2];

    bool IsEndMarker() const { return kind == ETraceEventKind::EndMarker; }
    bool HasStack() const { return stackId != kNoStackId; }
    uint8_t GetWaitReason() const { return data8; }
    uint8_t GetStatus() const { return data8; }
    uint32_t GetColour() const { return data32[0]; }
    /// The 64-bit instrumentation context of kinds 15 and 16.
    uint64_t GetContextId() const { return data64[0]; }

    /// The end marker: kind 18 at time -1.0.
    static TraceEvent EndOfEvents() { return TraceEvent{}; }
};

} // namespace Profiler
