#pragma once

#include "CaptureModel/TraceEvent.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The byte encoding of event payloads, shared by the column-wise chunks and the old row-wise
// ones. Everything is little-endian; strings are a u64 length followed by the bytes.

namespace Profiler {

/// Returned by DecodeTraceEventPayload when the payload does not fit the bytes available.
inline constexpr std::size_t kPayloadDecodeFailed = ~std::size_t(0);

/// Decodes the payload of an event of `kind` from `data` (at most `available` bytes) into the
/// payload fields of `event` and returns the number of bytes consumed, or kPayloadDecodeFailed
/// when the payload runs past `available` or the kind is not an event. Strings point into `data`.
std::size_t DecodeTraceEventPayload(ETraceEventKind kind, const uint8_t* data, std::size_t available,
                                    TraceEvent& event);

/// Appends the payload of `event` (by its kind) to `out`. The end marker has no payload.
void EncodeTraceEventPayload(const TraceEvent& event, std::vector<uint8_t>& out);

/// The encoded payload size of `event`.
std::size_t GetTraceEventPayloadSize(const TraceEvent& event);

} // namespace Profiler
